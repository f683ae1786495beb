#!/usr/bin/env python3
"""Writes one set of benchmark events twice: as Evolution Data Server local
calendars under ROOT/home and as a khal vdir with its config under ROOT.

usage: calendar_seed.py ROOT COUNT [ZONE]

The events spread over a year around today, in three calendars; one in ten
repeats weekly twenty times and one in twenty is an all-day event. The seed
is fixed, so every run of a size sees the same events.
"""
import datetime as dt
import os
import random
import sys
from zoneinfo import ZoneInfo

root, count = sys.argv[1], int(sys.argv[2])
zone = sys.argv[3] if len(sys.argv) > 3 else "Asia/Tokyo"
tz = ZoneInfo(zone)
rng = random.Random(20260101)
calendars = ["bench-work", "bench-home", "bench-sport"]
names = {"bench-work": "Is", "bench-home": "Ev", "bench-sport": "Spor"}
words = ["Toplantı", "Görüşme", "Yürüyüş", "Sunum", "Öğle yemeği", "Çalışma", "Doktor", "Alışveriş"]
places = ["", "", "Kadıköy", "Oda 5/B", "İstanbul", "Ev"]

today = dt.datetime.now(tz).replace(hour=0, minute=0, second=0, microsecond=0)
stamp = "20260101T000000Z"


def utc(t):
    return t.astimezone(dt.timezone.utc).strftime("%Y%m%dT%H%M%SZ")


events = {c: [] for c in calendars}
for i in range(count):
    cal = calendars[i % len(calendars)]
    day = today + dt.timedelta(days=rng.randint(-180, 180))
    uid = f"{cal}-{i}"
    lines = [f"UID:{uid}", f"DTSTAMP:{stamp}", f"SUMMARY:{rng.choice(words)} {i}"]
    place = rng.choice(places)
    if place:
        lines.append(f"LOCATION:{place}")
    if i % 20 == 7:
        lines.append(f"DTSTART;VALUE=DATE:{day:%Y%m%d}")
        lines.append(f"DTEND;VALUE=DATE:{day + dt.timedelta(days=1):%Y%m%d}")
    else:
        start = day + dt.timedelta(minutes=rng.randrange(7 * 60, 21 * 60, 15))
        end = start + dt.timedelta(minutes=rng.choice([30, 45, 60, 90, 120]))
        lines += [f"DTSTART:{utc(start)}", f"DTEND:{utc(end)}"]
    if i % 10 == 3:
        lines.append("RRULE:FREQ=WEEKLY;COUNT=20")
    events[cal].append((uid, lines))


def vcalendar(components):
    body = "".join("BEGIN:VEVENT\r\n" + "".join(l + "\r\n" for l in c) + "END:VEVENT\r\n" for c in components)
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//halvic//bench//EN\r\n" + body + "END:VCALENDAR\r\n"


khal_conf = ["[calendars]"]
for cal in calendars:
    sources = os.path.join(root, "home/.config/evolution/sources")
    data = os.path.join(root, "home/.local/share/evolution/calendar", cal)
    vdir = os.path.join(root, "vdir", cal)
    for d in (sources, data, vdir):
        os.makedirs(d, exist_ok=True)
    with open(os.path.join(sources, cal + ".source"), "w") as f:
        f.write(f"[Data Source]\nDisplayName={names[cal]}\nEnabled=true\nParent=local-stub\n\n"
                "[Calendar]\nBackendName=local\n")
    with open(os.path.join(data, "calendar.ics"), "w", newline="") as f:
        f.write(vcalendar([lines for _, lines in events[cal]]))
    for uid, lines in events[cal]:
        with open(os.path.join(vdir, uid + ".ics"), "w", newline="") as f:
            f.write(vcalendar([lines]))
    khal_conf += [f"[[{cal}]]", f"path = {vdir}", "type = calendar"]

khal_conf += ["[locale]", f"local_timezone = {zone}", f"default_timezone = {zone}",
              "[sqlite]", f"path = {os.path.join(root, 'khal.db')}"]
with open(os.path.join(root, "khal.conf"), "w") as f:
    f.write("\n".join(khal_conf) + "\n")
