#!/usr/bin/env python3
"""The administrative template holds nothing that Windows' parser or Intune's
import would reject, and writes only what quillfen.exe reads: the .admx and
each .adml parse; every $(string.X) and $(presentation.X) of the .admx is in
each .adml; each presentation shows exactly the elements of its policy; the
namespace is Quillfen's own and nothing of another template is used; each
file is at most 1 MB; every key and value name written is one of
src/policy/policy.cpp; "supported on" names one Quillfen version in every
language, and the texts that must say what a rule does to the install block
say it in every language. Then it breaks copies in a temporary folder, one
fault each, and fails unless every one is caught.

    admx.py resources/PolicyDefinitions src/policy/policy.cpp
"""
import pathlib
import re
import shutil
import sys
import tempfile
import xml.etree.ElementTree as ET

LANGS = ("en-US", "zh-CN")
# What a rule does to Windows' install block, said in each language ("*": in every one).
LAYERED = ("AllowInstanceIDs", "AllowDenyLayered", "17763.2145", "18362.1714", "19045.1151", "20348.256", "22000")
WORDS = {"BlockedNames_Help": {"en-US": ("writes no install block",), "zh-CN": ("不写系统安装禁止",)},
         "ApprovedModels_Help": {"en-US": ("does not write the model",), "zh-CN": ("不把这个型号写入",), "*": LAYERED[:1]},
         "ApprovedInstanceIDs_Help": {"*": LAYERED + ("Layering",)}, "Layering_Help": {"*": LAYERED}}


def parse(path):
    root = ET.parse(path).getroot()
    for el in root.iter():
        el.tag = el.tag.rpartition("}")[2]
    return root


def reader(cpp):
    """(key, lists, {value: its choices}) as quillfen.exe reads them; key names lower-cased, as the registry compares."""
    text = cpp.read_text(encoding="utf-8")
    found = [re.search(p, text, re.S) for p in (r'POLICY_KEY\[\] = u"(.*?)"', r"POLICY_LIST\[\w*\] = \{(.*?)\};")]
    enums = re.findall(r'POLICY_(\w+)\[\] = u"(\w+)";.*?POLICY_\1S\[\w*\] = \{(.*?)\};', text, re.S)
    if not all(found):
        return None
    key, lists = (m[1] for m in found)
    return (key.replace("\\\\", "\\").lower(), {n.lower() for n in re.findall(r'\{u"(\w+)"', lists)},
            {value.lower(): set(re.findall(r'u"(\w+)"', choices)) for _, value, choices in enums})


def revision(text):
    return tuple(int(n) for n in text.split("."))


def errors(folder, cpp):
    try:
        admx = parse(folder / "quillfen.admx")
        admls = {lang: parse(folder / lang / "quillfen.adml") for lang in LANGS}
    except (OSError, ET.ParseError) as e:
        return ["does not parse: %s" % e]
    errs = []
    if [(e.tag, e.get("prefix"), e.get("namespace")) for e in admx.findall("policyNamespaces/*")] != \
            [("target", "quillfen", "Quillfen.Policies.Quillfen")]:
        errs.append("policyNamespaces: one target, quillfen = Quillfen.Policies.Quillfen, and no <using>")
    supported = {d.get("name") for d in admx.findall("supportedOn/definitions/definition")}
    categories = {c.get("name") for c in admx.findall("categories/category")}
    errs += ["category %s has a parent" % c.get("name") for c in admx.findall("categories/category")
             if c.find("parentCategory") is not None]
    policies = {p.get("name"): p for p in admx.iter("policy")}
    for name, p in policies.items():
        if {s.get("ref") for s in p.findall("supportedOn")} - supported or \
                {c.get("ref") for c in p.findall("parentCategory")} - categories:
            errs.append("%s: its supportedOn or category is not defined in the file" % name)
    refs = re.findall(r"\$\((string|presentation)\.(\w+)\)", (folder / "quillfen.admx").read_text(encoding="utf-8"))
    errs += ["%s: over 1 MB, more than Intune imports" % f.relative_to(folder) for f in
             [folder / "quillfen.admx"] + [folder / lang / "quillfen.adml" for lang in LANGS] if f.stat().st_size > 1 << 20]
    versions = {}
    for lang, adml in admls.items():
        if revision(adml.get("revision")) < revision(admx.find("resources").get("minRequiredRevision")):
            errs.append("%s: revision below the .admx's minRequiredRevision" % lang)
        shown = {p.get("id"): p for p in adml.iter("presentation")}
        have = {"string": {s.get("id") for s in adml.iter("string")}, "presentation": set(shown)}
        errs += ["%s lacks %s.%s" % (lang, kind, ref) for kind, ref in refs if ref not in have[kind]]
        for name, p in policies.items():
            ref = re.fullmatch(r"\$\(presentation\.(\w+)\)", p.get("presentation", ""))
            ids = {e.get("id") for e in p.findall("elements/*")}
            refids = {e.get("refId") for e in shown[ref[1]] if e.get("refId")} if ref and ref[1] in shown else set()
            if refids != ids:
                errs.append("%s: %s shows %s, not the elements %s" % (lang, name, sorted(refids), sorted(ids)))
        text = {s.get("id"): s.text or "" for s in adml.iter("string")}
        for sid, words in WORDS.items():
            errs += ["%s %s does not say %s" % (lang, sid, w) for w in words.get(lang, ()) + words.get("*", ())
                     if w not in text.get(sid, "")]
        versions[lang] = [re.findall(r"Quillfen (\d+\.\d+\.\d+)", text.get(d, "")) for d in sorted(supported)]
    if any(len(v) != 1 for v in versions[LANGS[0]]) or any(v != versions[LANGS[0]] for v in versions.values()):
        errs.append("supported on: not one Quillfen version each, the same in every language: %s" % versions)

    read = reader(cpp)
    if not read:
        return errs + ["%s: the table of policy names was not found" % cpp]
    key, lists, enums = read
    written = set()
    for name, p in policies.items():
        if p.get("valueName") or p.find("enabledValue") is not None or p.find("enabledList") is not None:
            errs.append("%s writes a value of its own, which quillfen.exe does not read" % name)
        for e in p.findall("elements/*"):
            where = (e.get("key") or p.get("key")).lower()
            if e.tag == "list" and where.rpartition("\\")[0] == key:
                written.add(where.rpartition("\\")[2])
                if e.get("explicitValue") != "true" or e.get("valuePrefix") is not None or e.get("additive"):
                    errs.append("%s: a list is explicitValue=\"true\", without valuePrefix or additive" % name)
            elif not (e.tag == "enum" and where == key and
                      {s.text for s in e.iter("string")} == enums.get((e.get("valueName") or "").lower())):
                errs.append("%s: its %s writes %s\\%s, which quillfen.exe does not read" %
                            (name, e.tag, where, e.get("valueName") or "*"))
    if written != lists:
        errs.append("lists written %s, lists read %s" % (sorted(written), sorted(lists)))
    return errs


BREAKS = [  # (file, text, replacement): each must be caught
    ("quillfen.admx", "</policies>", ""),
    ("quillfen.admx", r"Quillfen\BlockedModels", r"Quillfen\BlockedModel"),
    ("policy.cpp", 'u"BlockedNames"', 'u"NamesBlocked"'),
    ("policy.cpp", r'Policies\\Quillfen"', r'Policies\\Quillfen\\Rules"'),
    ("quillfen.admx", "<string>Audit</string>", "<string>audit</string>"),
    ("quillfen.admx", 'valueName="Mode"', 'valueName="Modus"'),
    ("quillfen.admx", 'explicitValue="true"', 'explicitValue="true" additive="true"'),
    ("quillfen.admx", "</policyNamespaces>", '<using prefix="windows" namespace="Microsoft.Policies.Windows" />'
                                             "</policyNamespaces>"),
    ("quillfen.admx", 'supportedOn ref="SUPPORTED_Quillfen_2_2_0"', 'supportedOn ref="windows:SUPPORTED_Windows7"'),
    ("quillfen.admx", 'Quillfen_Help)" />', 'Quillfen_Help)"><parentCategory ref="windows:System" /></category>'),
    ("quillfen.admx", 'minRequiredRevision="1.1"', 'minRequiredRevision="1.2"'),
    ("zh-CN/quillfen.adml", 'id="Mode_Audit"', 'id="Mode_Audited"'),
    ("en-US/quillfen.adml", 'refId="BlockedNames_List"', 'refId="BlockedName_List"'),
    ("policy.cpp", 'u"Never"', 'u"Off"'),
    ("en-US/quillfen.adml", "writes no install block", "writes an install block"),
    ("zh-CN/quillfen.adml", "19045.1151 起", "19045 起"),
    ("zh-CN/quillfen.adml", "Quillfen 2.2.0 及以上版本，", "Quillfen 2.1.0 及以上版本，"),
    ("en-US/quillfen.adml", "</stringTable>", '<string id="x">%s</string></stringTable>' % ("x" * (1 << 20))),
]

folder, cpp = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
errs = errors(folder, cpp)
with tempfile.TemporaryDirectory() as tmp:
    for n, (name, old, new) in enumerate(BREAKS):
        work = pathlib.Path(tmp) / str(n)
        shutil.copytree(folder, work)
        shutil.copy(cpp, work / "policy.cpp")
        text = (work / name).read_text(encoding="utf-8")
        if old not in text:
            errs.append("broken copy %d: %s no longer holds %s" % (n, name, old))
            continue
        (work / name).write_text(text.replace(old, new), encoding="utf-8")
        if not errors(work, work / "policy.cpp"):
            errs.append("broken copy %d passes: %s with %s instead of %s" % (n, name, new[:60], old))
print("\n".join(errs) or "the template and policy.cpp agree; %d broken copies caught" % len(BREAKS))
sys.exit(1 if errs else 0)
