#!/usr/bin/env python3
"""Independent model of the stored-data cipher for the codec tests.

Usage: stored_cipher_reference.py PASSPHRASE HEX_BUFFER
Prints two lines of hex: the buffer decrypted, and the buffer encrypted.
"""
import hashlib
import struct
import sys

M = 0xFFFFFFFF
DELTA = 0x9E3779B9


def key_words(phrase):
    return struct.unpack(">4I", hashlib.md5(phrase).digest())


def encrypt_block(block, k):
    a, b = struct.unpack(">2I", block)
    s = 0
    for _ in range(32):
        s = (s + DELTA) & M
        a = (a + ((b << 4) & M) + (k[0] ^ b) + (s ^ (b >> 5)) + k[1]) & M
        b = (b + ((a << 4) & M) + (k[2] ^ a) + (s ^ (a >> 5)) + k[3]) & M
    return struct.pack(">2I", a, b)


def decrypt_block(block, k):
    a, b = struct.unpack(">2I", block)
    s = 0xC6EF3720
    for _ in range(32):
        b = (b - (((a << 4) & M) + (k[2] ^ a) + (s ^ (a >> 5)) + k[3])) & M
        a = (a - (((b << 4) & M) + (k[0] ^ b) + (s ^ (b >> 5)) + k[1])) & M
        s = (s - DELTA) & M
    return struct.pack(">2I", a, b)


def xor(x, y):
    return bytes(p ^ q for p, q in zip(x, y))


def decrypt(data, k):
    chain, out = b"\xff" * 8, b""
    whole = len(data) // 8 * 8
    for i in range(0, whole, 8):
        block = data[i:i + 8]
        out += xor(decrypt_block(block, k), chain)
        chain = block
    tail = data[whole:]
    if tail:
        out += xor(tail, encrypt_block(chain, k))
    return out


def encrypt(data, k):
    chain, out = b"\xff" * 8, b""
    whole = len(data) // 8 * 8
    for i in range(0, whole, 8):
        chain = encrypt_block(xor(data[i:i + 8], chain), k)
        out += chain
    tail = data[whole:]
    if tail:
        out += xor(tail, encrypt_block(chain, k))
    return out


if __name__ == "__main__":
    k = key_words(sys.argv[1].encode())
    data = bytes.fromhex(sys.argv[2])
    print(decrypt(data, k).hex())
    print(encrypt(data, k).hex())
