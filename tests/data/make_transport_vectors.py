#!/usr/bin/python3
"""Record of how transport_vectors.json was made.

Run once with Debian's /usr/bin/python3 and its `cryptography` package, an
implementation independent of the one under test; the output is committed and the
tests read it. Inputs are fixed (SHA-256 of a name), so only the ECDSA signatures
and AES-GCM nonces drawn here at random differ between runs.
"""
import hashlib
import hmac
import json
import sys

from cryptography.hazmat.primitives import hashes
from cryptography.hazmat.primitives.asymmetric import ec, x25519
from cryptography.hazmat.primitives.asymmetric.utils import decode_dss_signature
from cryptography.hazmat.primitives.ciphers.aead import AESGCM
from cryptography.hazmat.primitives.kdf.hkdf import HKDF
from cryptography.hazmat.primitives.serialization import Encoding, PublicFormat, PrivateFormat, NoEncryption


def fixed(name, length=32):
    return hashlib.sha256(name.encode()).digest()[:length]


def raw_public(private):
    return private.public_key().public_bytes(Encoding.Raw, PublicFormat.Raw)


def hkdf(ikm, salt, info):
    return HKDF(algorithm=hashes.SHA256(), length=32, salt=salt, info=info).derive(ikm)


def raw_signature(private, message):
    der = private.sign(message, ec.ECDSA(hashes.SHA256()))
    r, s = decode_dss_signature(der)
    return r.to_bytes(32, "big") + s.to_bytes(32, "big"), der


vectors = {}

# Pairing-code keys.
for code in ["123456", "000042", ""]:
    vectors["psk_" + (code or "empty")] = hmac.new(code.encode(), b"velm-psk-v1", hashlib.sha256).digest()

# Hello proof.
device_key = fixed("device key")
binding = fixed("session binding")
vectors["device_key"] = device_key
vectors["binding"] = binding
vectors["hello_proof"] = hmac.new(device_key, b"velm-hello-v1" + binding, hashlib.sha256).digest()

# Away signature.
signer = ec.derive_private_key(int.from_bytes(fixed("away signer"), "big"), ec.SECP256R1())
vectors["away_public_key"] = signer.public_key().public_bytes(Encoding.X962, PublicFormat.UncompressedPoint)
vectors["away_public_key_compressed"] = signer.public_key().public_bytes(Encoding.X962, PublicFormat.CompressedPoint)
raw, der = raw_signature(signer, b"velm-away-signature-v1" + binding)
vectors["away_signature"] = raw
vectors["away_signature_der"] = der
vectors["away_signature_unlabelled"] = raw_signature(signer, binding)[0]

# Pairing seal, as the host would make it for the device's offer.
device_private = x25519.X25519PrivateKey.from_private_bytes(fixed("device pairing key"))
host_private = x25519.X25519PrivateKey.from_private_bytes(fixed("host one-time key"))
device_public = raw_public(device_private)
host_public = raw_public(host_private)
shared = host_private.exchange(x25519.X25519PublicKey.from_public_bytes(device_public))
pair_key = hkdf(shared, binding, b"velm-pair-v1" + device_public + host_public)
nonce = fixed("pairing nonce", 12)
vectors["pair_device_private"] = device_private.private_bytes(Encoding.Raw, PrivateFormat.Raw, NoEncryption())
vectors["pair_host_public"] = host_public
vectors["pair_sealed_key"] = nonce + AESGCM(pair_key).encrypt(nonce, device_key, None)
vectors["pair_sealed_short_key"] = nonce + AESGCM(pair_key).encrypt(nonce, device_key[:16], None)

# Datagram seals under one video key: host to client counters 1 and 2, client to
# host counters 0, 5 and 7.
video_key = fixed("video key")
vectors["video_key"] = video_key


def seal(direction, counter, plaintext):
    counter_bytes = counter.to_bytes(8, "big")
    nonce = bytes([direction, 0, 0, 0]) + counter_bytes
    return counter_bytes + AESGCM(video_key).encrypt(nonce, plaintext, None)


vectors["datagram_plaintext"] = b"frame chunk"
vectors["datagram_h2c_1"] = seal(1, 1, b"frame chunk")
vectors["datagram_h2c_2"] = seal(1, 2, b"")
for counter in [0, 5, 7]:
    vectors["datagram_c2h_%d" % counter] = seal(2, counter, b"feedback %d" % counter)

# HKDF with empty input keying material and empty salt.
vectors["hkdf_empty_ikm"] = hkdf(b"", b"", b"info")

json.dump({name: value.hex() for name, value in vectors.items()}, sys.stdout, indent=2)
print()
