#!/usr/bin/python3
"""Record of how door_vectors.json was made.

Run once with Debian's /usr/bin/python3 and its `cryptography` package, an
implementation independent of the one under test; the output is committed and the
tests read it. Every input is fixed (SHA-256 of a name, or written out), so each
run prints the same bytes.
"""
import hashlib
import hmac
import json
import struct
import sys

from cryptography.hazmat.primitives import hashes
from cryptography.hazmat.primitives.asymmetric import x25519
from cryptography.hazmat.primitives.ciphers.aead import AESGCM
from cryptography.hazmat.primitives.kdf.hkdf import HKDF
from cryptography.hazmat.primitives.serialization import Encoding, PublicFormat, PrivateFormat, NoEncryption


def fixed(name, length=32):
    return hashlib.sha256(name.encode()).digest()[:length]


def label_code(label, key, number):
    return hmac.new(key, label + struct.pack(">Q", number), hashlib.sha256).digest()


def door_tag(key, epoch):
    return label_code(b"velm-door-tag-v1", key, epoch)[:8]


def door_port(key, epoch):
    return 20000 + struct.unpack(">I", label_code(b"velm-door-port-v1", key, epoch)[:4])[0] % 28000


def hkdf(ikm, salt, info):
    return HKDF(algorithm=hashes.SHA256(), length=32, salt=salt, info=info).derive(ikm)


def seal_key(key):
    return hkdf(key, None, b"velm-door-seal-v1")


def raw_public(private):
    return private.public_key().public_bytes(Encoding.Raw, PublicFormat.Raw)


def raw_private(private):
    return private.private_bytes(Encoding.Raw, PrivateFormat.Raw, NoEncryption())


vectors = {}

# Tags and ports of a few keys and epochs, including the extremes of the epoch range.
ports = {}
for key_name, key in [("ones", bytes([1]) * 32), ("device", fixed("door device key"))]:
    vectors["key_" + key_name] = key
    vectors["seal_key_" + key_name] = seal_key(key)
    for epoch in [0, 1, 5, 2833333, 2**64 - 1]:
        name = "%s_%d" % (key_name, epoch)
        vectors["label_code_" + name] = label_code(b"velm-door-tag-v1", key, epoch)
        vectors["tag_" + name] = door_tag(key, epoch)
        ports["port_" + name] = door_port(key, epoch)

# One knock, sealed here with a fixed nonce, for epoch 2833333 at 1700000000.123 s.
device_key = fixed("door device key")
knocker = x25519.X25519PrivateKey.from_private_bytes(fixed("door knocker key"))
knock_id = fixed("door knock id", 16)
sent_ms = 1700000000123
epoch = sent_ms // 600000
tag = door_tag(device_key, epoch)
plaintext = bytes([1]) + struct.pack(">Q", sent_ms) + knock_id + raw_public(knocker)
nonce = fixed("door knock nonce", 12)
vectors["knocker_private"] = raw_private(knocker)
vectors["knock_id"] = knock_id
vectors["knock_plaintext"] = plaintext
vectors["knock"] = tag + nonce + AESGCM(seal_key(device_key)).encrypt(nonce, plaintext, b"velm-knock-v1" + tag)
ports["knock_sent_ms"] = sent_ms
ports["knock_epoch"] = epoch

# The host's replies to it: admitted on port 40123, and refused.
host = x25519.X25519PrivateKey.from_private_bytes(fixed("door host key"))
host_public = raw_public(host)
shared = host.exchange(x25519.X25519PublicKey.from_public_bytes(raw_public(knocker)))
vectors["host_private"] = raw_private(host)
vectors["session_key"] = hkdf(shared, device_key, b"velm-door-session-v1" + knock_id + raw_public(knocker) + host_public)
for name, code, port in [("admitted", 0, 40123), ("refused", 1, 0), ("zero_port", 0, 0)]:
    reply_plaintext = bytes([1, code]) + knock_id + struct.pack(">H", port) + host_public
    reply_nonce = fixed("door reply nonce " + name, 12)
    vectors["reply_plaintext_" + name] = reply_plaintext
    vectors["reply_" + name] = reply_nonce + AESGCM(seal_key(device_key)).encrypt(
        reply_nonce, reply_plaintext, b"velm-knock-reply-v1")
ports["reply_port"] = 40123

output = {name: value.hex() for name, value in vectors.items()}
output.update(ports)
json.dump(output, sys.stdout, indent=2)
print()
