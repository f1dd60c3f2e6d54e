#!/usr/bin/env python3
"""Checks a task definition as quillfen.exe wrote it under Wine.

    check_task_xml.py FILE EXE events|timer

Prints what is wrong (nothing when all is well) and exits 1 if anything is.
"""
import sys
import xml.etree.ElementTree as ET

NS = "{http://schemas.microsoft.com/windows/2004/02/mit/task}"


def problems(path, exe, kind):
    raw = open(path, "rb").read()
    if not raw.startswith(b"\xff\xfe"):
        return ["no UTF-16 LE byte-order mark"]
    try:
        root = ET.fromstring(raw)
    except ET.ParseError as e:
        return ["not well-formed: %s" % e]
    want = {
        "RegistrationInfo/Author": "Quillfen",
        "RegistrationInfo/Description": "删除拉黑名单中重新出现的设备（Quillfen）",
        "Principals/Principal/UserId": "S-1-5-18",
        "Principals/Principal/RunLevel": "HighestAvailable",
        "Triggers/TimeTrigger/Repetition/Interval": "PT5M",
        "Settings/DisallowStartIfOnBatteries": "false",
        "Settings/StopIfGoingOnBatteries": "false",
        "Settings/ExecutionTimeLimit": "PT1H",
        "Settings/MultipleInstancesPolicy": "Queue",
        "Settings/StartWhenAvailable": "true",
        "Settings/AllowHardTerminate": "true",
        "Settings/Enabled": "true",
        "Actions/Exec/Command": exe,
        "Actions/Exec/Arguments": "--enforce",
        "Actions/Exec/WorkingDirectory": exe.rsplit("\\", 1)[0],
    }
    if kind == "events":
        want["Triggers/EventTrigger/Delay"] = "PT3S"
    out = []
    if root.tag != NS + "Task" or root.get("version") != "1.2":
        out.append("root: %s version %s" % (root.tag, root.get("version")))
    for path_, value in want.items():
        el = root.find("/".join(NS + p for p in path_.split("/")))
        got = None if el is None else el.text
        if got != value:
            out.append("%s: %r, want %r" % (path_, got, value))
    start = root.find(NS + "Triggers/" + NS + "TimeTrigger/" + NS + "StartBoundary")
    if start is None or len(start.text or "") != 19:
        out.append("no StartBoundary")
    sub = root.find(NS + "Triggers/" + NS + "EventTrigger/" + NS + "Subscription")
    if kind == "events" and (sub is None or "Microsoft-Windows-Kernel-PnP/Configuration" not in sub.text
                             or "EventID=400 or EventID=410" not in sub.text):
        out.append("no device-event subscription")
    if kind == "timer" and root.find(NS + "Triggers/" + NS + "EventTrigger") is not None:
        out.append("an EventTrigger in the fallback")
    return out


if __name__ == "__main__":
    found = problems(sys.argv[1], sys.argv[2], sys.argv[3])
    for p in found:
        print(p)
    sys.exit(1 if found else 0)
