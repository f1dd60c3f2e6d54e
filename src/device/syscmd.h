// Everything that changes the system outside our own files: the hidden
// command runner, device removal and the scheduled task.
#pragma once

// Runs "cmd.exe /c <command>" without a window, waits at most 30 s. Returns
// the exit code, 259 after the time limit, -1 when cmd.exe cannot start.
int run_silent(const char16_t* command);
// Creates or replaces the scheduled task; 1 when schtasks exited with 0.
int task_install(void);
// Deletes the scheduled task; 1 when schtasks exited with 0.
int task_remove(void);
// Removes a device by instance id (class installer, pnputil as fallback).
// 1 when removed.
int remove_dev(const char16_t* instance_id);
