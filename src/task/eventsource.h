// The event log source "Quillfen": the registry key that tells Event Viewer
// where the texts of our event ids are.
#pragma once

// Registers the source under the Application log with the running
// executable as its message file: EventMessageFile (REG_EXPAND_SZ) is the
// executable's path, TypesSupported allows errors, warnings and information.
// 1 when both values were written.
int event_source_register(void);
// Deletes the source's key; 1 when it is gone, also when it never existed.
int event_source_remove(void);
