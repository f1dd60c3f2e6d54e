r"""The signed build: build-win configured with a throwaway code-signing
certificate, so that only the signing and packaging steps run again (the
linked exe stays), and osslsigncode verifying the results with that
certificate as the CA. The build's own signing settings are put back after.
"""

import os
import shutil
import subprocess

from harness import check, expect, has, same, skip
from machine import ROOT
from msi_checks import VERSION

MSI = "quillfen-%s-x64.msi" % VERSION
PAGE = "https://quillfen.invalid/"


def cmake(*args):
    return subprocess.run(["cmake", *args], capture_output=True, text=True)


def configure(m, **sign):
    """SIGN: pfx, pass_file, timestamp, url; each one not given is cleared."""
    r = cmake("-S", ROOT, "-B", m.p.build, *("-DQUILLFEN_SIGN_%s=%s" % (k.upper(), sign.get(k, ""))
                                           for k in ("pfx", "pass_file", "timestamp", "url")))
    if r.returncode != 0:
        raise RuntimeError("cmake configure failed:\n" + r.stdout + r.stderr)


def configured(m):
    """The build's signing settings, to put back."""
    got = {}
    for line in open(os.path.join(m.p.build, "CMakeCache.txt")):
        name, _, value = line.rstrip("\n").partition("=")
        if name.startswith("QUILLFEN_SIGN_"):
            got[name.split(":")[0][len("QUILLFEN_SIGN_"):].lower()] = value
    return got


def build(m, *targets):
    r = cmake("--build", m.p.build, "-j2", "--target", *targets)
    return r.returncode, r.stdout + r.stderr


def verify(path, ca):
    r = subprocess.run(["osslsigncode", "verify", "-CAfile", ca, "-in", path], capture_output=True, text=True)
    return r.returncode == 0 and "Signature verification: ok" in r.stdout, r.stdout + r.stderr


@check
def signed_build(m):
    """The exe and the shipped package verify, the package holds the signed
    exe, SHA256SUMS matches them, and a rebuild signs nothing again; a wrong
    password or a timestamp server that does not answer fails the build."""
    for tool in ("osslsigncode", "openssl", "wixl", "msiextract"):
        if not shutil.which(tool):
            skip(tool + " not installed")
    exe, msi = os.path.join(m.p.build, "quillfen.exe"), os.path.join(m.p.build, MSI)
    key, cert, pfx = (os.path.join(m.work, f) for f in ("key.pem", "cert.pem", "cert.pfx"))
    good, bad = os.path.join(m.work, "pass.txt"), os.path.join(m.work, "wrong.txt")
    open(good, "w").write("correct horse\n")
    open(bad, "w").write("wrong horse\n")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                    "-days", "2", "-subj", "/CN=Quillfen Test Signer", "-addext", "extendedKeyUsage=codeSigning",
                    "-addext", "keyUsage=critical,digitalSignature"], check=True, capture_output=True)
    subprocess.run(["openssl", "pkcs12", "-export", "-inkey", key, "-in", cert, "-out", pfx,
                    "-passout", "file:" + good], check=True, capture_output=True)

    before = configured(m)

    def put_back():
        configure(m, **before)
        build(m, "all")
    m.on_cleanup(put_back)

    configure(m, pfx=pfx, pass_file=bad)
    rc, out = build(m, "msi")
    expect("a wrong password fails the build, saying why", rc != 0 and
           "quillfen.exe is not signed: the password in %s does not open %s" % (bad, pfx) in " ".join(out.split()),
           out[-3000:])
    expect("and leaves no exe", not os.path.exists(exe))

    configure(m, pfx=pfx, pass_file=good, timestamp="http://127.0.0.1:9/")
    rc, out = build(m, "msi")
    expect("a timestamp server that does not answer fails the build", rc != 0 and
           "the timestamp server http://127.0.0.1:9/ gave no timestamp" in " ".join(out.split()), out[-3000:])

    configure(m, pfx=pfx, pass_file=good, url=PAGE)
    rc, out = build(m, "msi", "checksums", "msi-test-current")
    if not expect("with the right password the build succeeds", rc == 0, out[-3000:]):
        return
    ok, said = verify(exe, cert)
    expect("the exe verifies", ok, said)
    for line in ("Message digest algorithm  : SHA256", "\tText description: Quillfen", "\tURL description: " + PAGE):
        has("the exe's signature holds " + line.strip(), said, line)
    expect("the shipped package verifies", *verify(msi, cert))
    expect("a test package is not signed", not verify(os.path.join(m.p.build, "msi-test", MSI), cert)[0])
    inside = os.path.join(m.work, "extracted")
    subprocess.run(["msiextract", "-C", inside, msi], check=True, capture_output=True)
    embedded = os.path.join(inside, "Quillfen", "quillfen.exe")
    expect("the package holds the signed exe", open(embedded, "rb").read() == open(exe, "rb").read())
    sums = subprocess.run(["sha256sum", "-c", "SHA256SUMS"], cwd=m.p.build, capture_output=True, text=True)
    same("SHA256SUMS matches the signed files", (0, ["quillfen.exe: OK", MSI + ": OK"]),
         (sums.returncode, sums.stdout.splitlines()))

    signed_at = (os.stat(exe).st_mtime_ns, os.stat(msi).st_mtime_ns)
    configure(m, pfx=pfx, pass_file=good, url=PAGE)
    rc, out = build(m, "msi", "checksums")
    same("configuring and building again signs nothing again", (0, signed_at),
         (rc, (os.stat(exe).st_mtime_ns, os.stat(msi).st_mtime_ns)))
