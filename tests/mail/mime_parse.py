#!/usr/bin/env python3
"""Parses a received message with Python's standard MIME parser and reports what a mail reader would see,
one "key=value" line each (the value JSON-encoded): the headers, the parts (content type, file name,
defects, the text), and every attachment's decoded bytes written to OUTDIR/partN."""
import email
import email.policy
import json
import sys

with open(sys.argv[1], "rb") as f:
    msg = email.message_from_binary_file(f, policy=email.policy.default)
out = {
    "from": str(msg["From"]), "to": str(msg["To"]), "cc": str(msg["Cc"]) if msg["Cc"] else None,
    "bcc_header": msg["Bcc"] is not None, "subject": str(msg["Subject"]), "date": str(msg["Date"]),
    "date_parsed": msg["Date"].datetime is not None if msg["Date"] else False,
    "content_type": msg.get_content_type(), "defects": [type(d).__name__ for d in msg.defects], "parts": [],
}
n = 0
for part in msg.walk():
    if part.is_multipart():
        continue
    info = {"type": part.get_content_type(), "filename": part.get_filename(),
            "defects": [type(d).__name__ for d in part.defects]}
    if part.get_content_maintype() == "text" and part.get_filename() is None:
        info["text"] = part.get_content()
    else:
        n += 1
        with open("%s/part%d" % (sys.argv[2], n), "wb") as f:
            f.write(part.get_payload(decode=True))
        info["file"] = "part%d" % n
    out["parts"].append(info)
for k, v in out.items():
    if k != "parts":
        print("%s=%s" % (k, json.dumps(v)))
print("parts=%d" % len(out["parts"]))
for i, part in enumerate(out["parts"]):
    for k, v in part.items():
        print("part%d.%s=%s" % (i, k, json.dumps(v)))
