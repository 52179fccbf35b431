#!/usr/bin/env python3
"""Makes throw-away keys for the signed-update tests with openssl, at build time, so no key
is kept in the sources.

    make_test_keys.py OPENSSL OUT_DIR

For each of "publisher-test" and "other-test", OUT_DIR receives NAME.pem (the private key),
NAME.pub (the public key as `openssl ec -pubout` writes it) and NAME.blob (the private key as
a CNG private-key blob, so a test can sign the lists it serves). It also writes sample.txt and
sample.txt.sig, signed by publisher-test with `openssl dgst`, and other-curve-test.pub, a
public key on a curve the updater does not take."""
import os
import struct
import subprocess
import sys

ECDSA_PRIVATE_P256_MAGIC = 0x32534345  # "ECS2"


def run(*args):
    subprocess.run(args, check=True, stdout=subprocess.PIPE, stderr=subprocess.PIPE)


def private_blob(openssl, pem):
    # SEC1 ECPrivateKey of P-256: 30 77 02 01 01 04 20 <d> a0 0a <curve> a1 44 03 42 00 04 <X> <Y>
    der = subprocess.run([openssl, "ec", "-in", pem, "-outform", "DER"], check=True,
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE).stdout
    if len(der) != 121 or der[:7] != bytes.fromhex("30770201010420") or der[-66:-64] != b"\x00\x04":
        sys.exit("unexpected private key layout from openssl")
    d, point = der[7:39], der[-64:]
    return struct.pack("<II", ECDSA_PRIVATE_P256_MAGIC, 32) + point + d


def main(openssl, out):
    os.makedirs(out, exist_ok=True)
    for name in ("publisher-test", "other-test"):
        pem = os.path.join(out, name + ".pem")
        run(openssl, "ecparam", "-name", "prime256v1", "-genkey", "-noout", "-out", pem)
        run(openssl, "ec", "-in", pem, "-pubout", "-out", os.path.join(out, name + ".pub"))
        with open(os.path.join(out, name + ".blob"), "wb") as f:
            f.write(private_blob(openssl, pem))
    other_curve = os.path.join(out, "other-curve-test.pem")
    run(openssl, "ecparam", "-name", "secp384r1", "-genkey", "-noout", "-out", other_curve)
    run(openssl, "ec", "-in", other_curve, "-pubout", "-out", os.path.join(out, "other-curve-test.pub"))
    sample = os.path.join(out, "sample.txt")
    with open(sample, "wb") as f:
        f.write(b"[config]\r\nother=http://127.0.0.1/list.ini\r\n")
    run(openssl, "dgst", "-sha256", "-sign", os.path.join(out, "publisher-test.pem"), "-out", sample + ".sig", sample)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
