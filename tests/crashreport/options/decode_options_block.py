#!/usr/bin/env python3
"""Decodes a published options block from /dev/shm by the layout in
docs/options.md, independently of the C++ reader, and prints its fields as
JSON (strings as lists of byte values)."""
import json
import struct
import sys

KEY = 0xA5


class Reader:
    def __init__(self, data):
        self.data, self.pos = data, 0

    def take(self, n):
        if self.pos + n > len(self.data):
            raise ValueError("short block at offset %d" % self.pos)
        chunk = self.data[self.pos:self.pos + n]
        self.pos += n
        return chunk

    def u8(self):
        return self.take(1)[0]

    def u16(self):
        return struct.unpack("<H", self.take(2))[0]

    def i32(self):
        return struct.unpack("<i", self.take(4))[0]

    def u32(self):
        return struct.unpack("<I", self.take(4))[0]

    def bits(self, n):
        return int.from_bytes(self.take(n), "little")

    def string(self):
        n = self.i32()
        return [b ^ KEY for b in self.take(n)]


def decode(form):
    r = Reader(form)
    f = {}
    f["LogActivation"] = r.u8()
    f["FilterActive"] = r.u8()
    f["LogFlags"] = r.u8()
    f["AppendLogToMail"] = r.u8()
    f["SaveLog"] = r.u8()
    f["FirstTab"] = r.u8()
    f["FreezeWatch"] = r.u8()
    f["FreezeSeconds"] = r.i32()
    f["FreezeText"] = r.string()
    f["SmtpSender"] = r.string()
    f["SmtpServer"] = r.string()
    f["SmtpServerPort"] = r.u16()
    f["SmtpUser"] = r.string()
    f["SmtpUserPassword"] = r.string()
    f["TerminateAction"] = r.u8()
    f["ShowTerminateButton"] = r.u8()
    f["MaxSavedErrors"] = r.i32()
    f["TerminateButtonAfter"] = r.i32()
    f["MailRecipients"] = r.string()
    f["MailSubject"] = r.string()
    f["MailMethod"] = r.u8()
    f["ReportItems"] = r.bits(5)
    f["LogPath"] = r.string()
    f["WebMethod"] = r.u8()
    f["WebAddress"] = r.string()
    f["WebUser"] = r.string()
    f["WebUserPassword"] = r.string()
    f["WebServerPort"] = r.u32()
    f["ExtraFiles"] = r.string()
    f["SendFlags"] = r.bits(2)
    f["DialogFlags"] = r.u8()
    f["DialogCloseSeconds"] = r.i32()
    f["SupportPage"] = r.string()
    f["HtmlTemplate"] = r.string()
    f["StackFlags"] = r.u8()
    f["BehaviourFlags"] = r.u8()
    f["CrashAction"] = r.u8()
    f["CrashCount"] = r.i32()
    f["CrashMinutes"] = r.i32()
    pairs = r.i32()
    f["Filters"] = [[r.string(), r.string()] for _ in range(pairs)]
    f["MailBody"] = r.string()
    f["Texts"] = [r.string() for _ in range(96)]
    if r.pos != len(form):
        raise ValueError("%d bytes after the texts" % (len(form) - r.pos))
    return f


def main():
    with open("/dev/shm/" + sys.argv[1], "rb") as block:
        raw = block.read()
    size = struct.unpack("<I", raw[:4])[0]
    if size < 5 or size > len(raw):
        raise ValueError("size field %d does not fit the block of %d bytes" % (size, len(raw)))
    data = raw[4:size]
    if data[0] != 1:
        raise ValueError("first data byte is %d" % data[0])
    json.dump(decode(data[1:]), sys.stdout)


if __name__ == "__main__":
    main()
