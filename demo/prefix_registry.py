#!/usr/bin/env python3
"""The registry side of the demo PC, as a .reg file for Wine's regedit (printed on standard output):

    prefix_registry.py ROOT.der SERVICE

- the demo bank's root certificate (DER) in the machine's ROOT store, so that the PC reaches the
  bank over https: the store keeps each certificate under its SHA-1 (upper-case hex) as "Blob",
  the certificate's serialized properties, here only the certificate itself (property 32);
- a setting out of order: the pop-up blocker on, where the bank's document wants it off;
- the component's service SERVICE set to start on demand (3), so that it stays stopped when the PC
  starts.
"""

import hashlib
import struct
import sys

CERT_CERT_PROP_ID = 32
ROOT_STORE = r"HKEY_LOCAL_MACHINE\Software\Microsoft\SystemCertificates\Root\Certificates"


def reg_hex(data):
    """regedit's hex: notation, continued over lines as regedit itself writes it."""
    pairs = [f"{byte:02x}" for byte in data]
    lines = [",".join(pairs[i:i + 24]) for i in range(0, len(pairs), 24)]
    return "hex:" + ",\\\r\n  ".join(lines)


def certificate_blob(der):
    return struct.pack("<III", CERT_CERT_PROP_ID, 1, len(der)) + der


def registry_file(der, service):
    thumbprint = hashlib.sha1(der).hexdigest().upper()
    sections = [
        (f"{ROOT_STORE}\\{thumbprint}", [f'"Blob"={reg_hex(certificate_blob(der))}']),
        (r"HKEY_CURRENT_USER\Software\Microsoft\Internet Explorer\New Windows", ['"PopupMgr"="yes"']),
        (f"HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\{service}", ['"Start"=dword:00000003']),
    ]
    text = "Windows Registry Editor Version 5.00\r\n"
    for key, values in sections:
        text += f"\r\n[{key}]\r\n" + "".join(value + "\r\n" for value in values)
    return text


def main():
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    with open(sys.argv[1], "rb") as source:
        der = source.read()
    if not der.startswith(b"\x30"):
        print(f"{sys.argv[1]}: not a DER certificate", file=sys.stderr)
        return 2
    sys.stdout.buffer.write(registry_file(der, sys.argv[2]).encode("ascii"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
