#!/usr/bin/python3
"""Makes the certificates of the mail tests in the directory given: two authorities and the servers'
certificates and keys.

ca.pem            the test authority the robot is told to trust
other-ca.pem      an authority nobody trusts
good.pem          127.0.0.1 and localhost, from ca.pem, valid now
wrong-name.pem    mail.example.test only, from ca.pem
expired.pem       127.0.0.1, from ca.pem, expired yesterday
unknown.pem       127.0.0.1, from other-ca.pem
Each server certificate X.pem has its key in X.key.
"""
import datetime
import ipaddress
import sys

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec
from cryptography.x509.oid import NameOID

out = sys.argv[1]
now = datetime.datetime.now(datetime.timezone.utc)
day = datetime.timedelta(days=1)


def name(cn):
    return x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, cn)])


def write(stem, cert, key):
    with open("%s/%s.pem" % (out, stem), "wb") as f:
        f.write(cert.public_bytes(serialization.Encoding.PEM))
    with open("%s/%s.key" % (out, stem), "wb") as f:
        f.write(key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                                  serialization.NoEncryption()))


def authority(stem, cn):
    key = ec.generate_private_key(ec.SECP256R1())
    cert = (x509.CertificateBuilder().subject_name(name(cn)).issuer_name(name(cn))
            .public_key(key.public_key()).serial_number(x509.random_serial_number())
            .not_valid_before(now - day).not_valid_after(now + 30 * day)
            .add_extension(x509.BasicConstraints(ca=True, path_length=None), critical=True)
            .add_extension(x509.KeyUsage(False, False, False, False, False, True, True, False, False), critical=True)
            .sign(key, hashes.SHA256()))
    write(stem, cert, key)
    return cert, key


def server(stem, ca, names, before, after):
    ca_cert, ca_key = ca
    key = ec.generate_private_key(ec.SECP256R1())
    alt = [x509.IPAddress(ipaddress.ip_address(n)) if n[0].isdigit() else x509.DNSName(n) for n in names]
    cert = (x509.CertificateBuilder().subject_name(name(names[0])).issuer_name(ca_cert.subject)
            .public_key(key.public_key()).serial_number(x509.random_serial_number())
            .not_valid_before(before).not_valid_after(after)
            .add_extension(x509.SubjectAlternativeName(alt), critical=False)
            .add_extension(x509.BasicConstraints(ca=False, path_length=None), critical=True)
            .sign(ca_key, hashes.SHA256()))
    write(stem, cert, key)


ca = authority("ca", "Korvex test authority")
other = authority("other-ca", "Unknown test authority")
server("good", ca, ["127.0.0.1", "localhost"], now - day, now + 30 * day)
server("wrong-name", ca, ["mail.example.test"], now - day, now + 30 * day)
server("expired", ca, ["127.0.0.1"], now - 30 * day, now - day)
server("unknown", other, ["127.0.0.1"], now - day, now + 30 * day)
