"""The network: the test namespace, a test CA and server certificates, and the CA in the system
store (which Wine's crypt32 reads).

Everything runs inside a network namespace made by scripts/netns.sh ("tarvolin-e2e" or a name
that starts with it), whose hosts file maps the download hosts to 127.0.0.1. Certificates are generated at
test time under build/e2e/certs and never committed.
"""
import filecmp
import os
import shutil
import subprocess
import tempfile
from pathlib import Path

from . import wine

CERTS = wine.E2E_DIR / "certs"
HOSTS = ("get.tarvolin.example", "test.tarvolin.example")
OTHER_HOST = "other.tarvolin.example"
NAMESPACE = "tarvolin-e2e"
SYSTEM_CA = Path("/usr/local/share/ca-certificates/tarvolin-test-ca.crt")
# The CA's key and certificate are kept once per machine, so that every checkout and build folder
# on it signs with the one CA that the system store holds.
CA_HOME = Path("/var/lib/tarvolin-e2e-ca")

# Server certificates: name -> (issuing CA, host names, expired)
SERVER_CERTS = {
    "server": ("ca", HOSTS, False),
    "other-host": ("ca", (OTHER_HOST,), False),
    "expired": ("ca", HOSTS, True),
    "untrusted": ("untrusted-ca", HOSTS, False),
}


def in_namespace():
    """True when this process runs inside a test namespace made by scripts/netns.sh."""
    try:
        out = subprocess.run(["ip", "netns", "identify", str(os.getpid())], capture_output=True, text=True,
                             timeout=10).stdout.strip()
    except (OSError, subprocess.SubprocessError):
        return False
    return out.startswith(NAMESPACE)


def require_network():
    """Skips the test outside the test namespace."""
    if not in_namespace():
        import pytest
        pytest.skip("needs the network namespace " + NAMESPACE + " (scripts/test.sh sets it up)")


def _openssl(*args, cwd=None):
    subprocess.run(["openssl", *args], check=True, cwd=cwd, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def _make_ca(name, subject):
    key, crt = CERTS / f"{name}.key", CERTS / f"{name}.crt"
    if key.exists() and crt.exists():
        return
    _openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "3650",
             "-subj", subject, "-keyout", str(key), "-out", str(crt),
             "-addext", "basicConstraints=critical,CA:TRUE",
             "-addext", "keyUsage=critical,keyCertSign,cRLSign",
             "-addext", "subjectKeyIdentifier=hash")


def _make_server(name, ca, hosts, expired):
    key, crt = CERTS / f"{name}.key", CERTS / f"{name}.crt"
    if key.exists() and crt.exists():
        return
    work = Path(tempfile.mkdtemp(dir=CERTS))
    try:
        csr = work / "req.csr"
        _openssl("req", "-new", "-newkey", "rsa:2048", "-nodes", "-sha256", "-subj", f"/CN={hosts[0]}",
                 "-keyout", str(key), "-out", str(csr))
        (work / "index.txt").write_text("")
        (work / "serial").write_text(os.urandom(8).hex() + "\n")
        san = ",".join(f"DNS:{h}" for h in hosts)
        dates = ("default_startdate = 20200101000000Z\ndefault_enddate = 20200201000000Z\n" if expired
                 else "default_days = 825\n")
        (work / "ca.cnf").write_text(
            "[ca]\ndefault_ca = test\n"
            f"[test]\ndatabase = {work}/index.txt\nserial = {work}/serial\nnew_certs_dir = {work}\n"
            f"certificate = {CERTS}/{ca}.crt\nprivate_key = {CERTS}/{ca}.key\n"
            f"default_md = sha256\npolicy = any\ncopy_extensions = none\nunique_subject = no\n{dates}"
            "x509_extensions = ext\n"
            "[any]\ncommonName = supplied\n"
            f"[ext]\nbasicConstraints = CA:FALSE\nkeyUsage = critical,digitalSignature,keyEncipherment\n"
            f"extendedKeyUsage = serverAuth\nsubjectAltName = {san}\n"
            "authorityKeyIdentifier = keyid\n")
        args = ["ca", "-batch", "-notext", "-config", str(work / "ca.cnf"), "-in", str(csr), "-out", str(crt)]
        if expired:
            args += ["-startdate", "20200101000000Z", "-enddate", "20200201000000Z"]
        _openssl(*args)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def _shared_ca():
    """Brings the machine's test CA into CERTS, making it first when there is none."""
    key, crt = CERTS / "ca.key", CERTS / "ca.crt"
    home_key, home_crt = CA_HOME / "ca.key", CA_HOME / "ca.crt"
    if home_key.exists() and home_crt.exists():
        if not (crt.exists() and filecmp.cmp(crt, home_crt, shallow=False)):
            for name in SERVER_CERTS:  # signed by another CA: make them again
                for suffix in (".crt", ".key"):
                    (CERTS / f"{name}{suffix}").unlink(missing_ok=True)
            shutil.copyfile(home_key, key)
            shutil.copyfile(home_crt, crt)
        return
    _make_ca("ca", "/CN=tarvolin test CA")
    CA_HOME.mkdir(parents=True, exist_ok=True)
    os.chmod(CA_HOME, 0o700)
    shutil.copyfile(key, home_key)
    shutil.copyfile(crt, home_crt)


def make_certs():
    """Generates (once) the test CA, an untrusted CA and the server certificates; returns the folder."""
    CERTS.mkdir(parents=True, exist_ok=True)
    _shared_ca()
    _make_ca("untrusted-ca", "/CN=tarvolin untrusted test CA")
    for name, (ca, hosts, expired) in SERVER_CERTS.items():
        _make_server(name, ca, hosts, expired)
    return CERTS


def cert_pair(name="server"):
    return CERTS / f"{name}.crt", CERTS / f"{name}.key"


def install_ca():
    """Puts the test CA into the system store unless that very CA is there already. Returns True
    when the store changed."""
    make_certs()
    ca = CERTS / "ca.crt"
    if SYSTEM_CA.exists() and filecmp.cmp(ca, SYSTEM_CA, shallow=False):
        bundle = Path("/etc/ssl/certs/ca-certificates.crt")
        if bundle.exists() and ca.read_text().strip() in bundle.read_text():
            return False
    SYSTEM_CA.parent.mkdir(parents=True, exist_ok=True)
    shutil.copyfile(ca, SYSTEM_CA)
    subprocess.run(["update-ca-certificates"], check=True, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return True
