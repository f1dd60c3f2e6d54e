#!/usr/bin/env python3
"""Checks a task definition as quillfen.exe wrote it under Wine.

    check_task_xml.py FILE EXE events+policy|events|timer

The kind names the event triggers the definition must carry besides its
timer, and no others.

Prints what is wrong (nothing when all is well) and exits 1 if anything is.
"""
import sys
import xml.etree.ElementTree as ET

NS = "{http://schemas.microsoft.com/windows/2004/02/mit/task}"
MDM = "Microsoft-Windows-DeviceManagement-Enterprise-Diagnostics-Provider/Admin"


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
    # Each subscription is a query list of its own, read back by the logs it selects.
    found = []
    for trigger in root.findall(NS + "Triggers/" + NS + "EventTrigger"):
        sub, delay = trigger.find(NS + "Subscription"), trigger.find(NS + "Delay")
        try:
            query = ET.fromstring(sub.text)
        except (ET.ParseError, TypeError, AttributeError) as e:
            out.append("a subscription that does not parse: %s" % e)
            continue
        selects = [(s.get("Path"), s.text) for s in query.iter("Select")]
        if selects == [("Microsoft-Windows-Kernel-PnP/Configuration", "*[System[(EventID=400 or EventID=410)]]")]:
            found.append("events")
        elif [p for p, _ in selects] == ["System", MDM] and "Microsoft-Windows-GroupPolicy" in selects[0][1]:
            found.append("policy")
        else:
            out.append("an unknown subscription: %r" % selects)
        if delay is None or delay.text != "PT3S":
            out.append("a trigger without its 3-second delay")
    if found != [k for k in ("events", "policy") if k in kind.split("+")]:
        out.append("event triggers %s, want %s" % (found, kind))
    return out


if __name__ == "__main__":
    found = problems(sys.argv[1], sys.argv[2], sys.argv[3])
    for p in found:
        print(p)
    sys.exit(1 if found else 0)
