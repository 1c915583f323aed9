#!/usr/bin/env python3
"""Writes a fleet file for talvor-hubsim.

  make_fleet.py --demo [--base 127.77.0] > demo/fleet.json
  make_fleet.py --count 256 --base 127.3 [--password pw] > fleet.json

--demo writes the demo fleet (both hub systems, both protocols, TAPs and
modules of several classes on several buses, one unit with an expired
certificate, one listed by registers only). --count writes N plain units,
alternating HTTP and WebSocket, on BASE.x.y addresses.
"""
import argparse
import json
import sys

# Capability bits of the units
TAP_DETAILS, CONFIG, SDCARD, CUSTOMISATION, QUICK_UPDATE = 0x01, 0x02, 0x04, 0x08, 0x10
SIGNATURE, PROGRESS, MULTI_IMAGE = 0x20, 0x80, 0x100


def textid(text):
    """The number whose bytes 8-15, 0-7, 24-31, 16-23 read as the four characters."""
    c = [ord(ch) for ch in text[:4].ljust(4, "?")]
    return c[0] << 8 | c[1] | c[2] << 24 | c[3] << 16


def mac_for(n):
    return "00:1a:7e:%02x:%02x:%02x" % ((n >> 16) & 255, (n >> 8) & 255, n & 255)


def gen_conf(system, serial, n, net, sys_version, caps, desc, second_mac=False):
    g = {
        "system": system,
        "ser": serial,
        "bacnet_desc": desc,
        "mac0": mac_for(n),
        "fw_v_net": net,
        "fw_v_sys": sys_version,
        "textid": textid("TLV%d" % (n % 10) if system.startswith("622") else "ORV%d" % (n % 10)),
        "capabilities": caps,
    }
    if second_mac:
        g["mac1"] = mac_for(n + 0x800000)
    return g


def tap(bus, address, kind, ccts, serial, fwver, caps=0, fstcct=0, fpgats=0, chip=None):
    t = {"bus": bus, "address": address, "type": kind, "ccts": ccts, "sernr": serial,
         "fstcct": fstcct, "caps": caps, "fwver": fwver, "fpgats": fpgats}
    if chip is not None:
        t["chip_type"] = chip
    return t


CATS = {"cats": [{"Network": 1}, {"Logs": 2}, {"IP Filtering": 4}, {"Meters": 8},
                 {"Secondary ethernet port": 16}], "version": 7}


def config_file(serial):
    return {"version": 7, "glob_conf": {"sd_state": 0, "name": serial},
            "filtering": {"active": 0}, "network": {"dhcp": 1}}


def demo(base, password):
    a = lambda n: "%s.%d" % (base, n)
    units = []

    def unit(name, kind, n, g, **extra):
        u = {"name": name, "kind": kind, "address": a(n), "password": password,
             "salt": "%08x" % (0x5a17 * n + 0x1234567), "gen_conf": g,
             "config_cats": CATS, "config_file": config_file(g["ser"]),
             "registers": {"4584": extra.pop("sd_gb", 32)}}
        u.update(extra)
        units.append(u)

    full = TAP_DETAILS | CONFIG | SDCARD | CUSTOMISATION | QUICK_UPDATE | PROGRESS | MULTI_IMAGE
    unit("talvor-north", "http", 1,
         gen_conf("622", "TLV-21001", 1, "v0.64.2", "v5.61", full, "North riser"),
         probe=404, bus_sizes=[4, 8],
         taps=[tap(0, 1, 3, 8, "MP8-0001", 0x0123, caps=0x05),
               tap(0, 2, 9, 3, "T3P-0002", 0x1234, caps=0x0D),
               tap(1, 1, 11, 30, "RM-0101", 0x1110, caps=0x04, fpgats=1700000000, chip=2),
               tap(1, 3, 12, 8, "CM-0103", 0x1020, chip=1)])
    unit("talvor-south", "wss", 2,
         gen_conf("622", "TLV-21002", 2, "v0.65.1", "v5.62", full, "South riser"),
         port80="refused", bus_sizes=[4, 4, 4],
         taps=[tap(0, 1, 3, 21, "ICL-0201", 0x0130, caps=0x15),
               tap(1, 2, 10, 3, "DC-0202", 0x1011),
               tap(2, 1, 13, 12, "TRK-0203", 0x1032),
               tap(2, 4, 14, 6, "FER-0204", 0x2001)])
    unit("orvane-east", "http", 3,
         gen_conf("522", "ORV-31003", 3, "v1.4.2", "v5.52", TAP_DETAILS | CONFIG | SDCARD, "East plant room"),
         probe=200,
         taps=[tap(0, 1, 3, 84, "OM-0301", 0x0112), tap(0, 2, 3, 4, "MP4-0302", 0x0098)])
    unit("orvane-west", "wss", 4,
         gen_conf("522", "ORV-31004", 4, "v1.5.0", "v5.60", TAP_DETAILS | CONFIG | CUSTOMISATION | PROGRESS,
                  "West plant room"),
         port80="301", sd_gb=0,
         taps=[tap(0, 1, 3, 84, "OM-0401", 0x0113)])
    # No TAP details: the TAPs come from the bus registers at 4100.
    regs = [4, 0, 8, 21, 0xFFFD, 24, 30, 0, 42] + [0] * 21
    unit("talvor-legacy", "http", 5,
         gen_conf("622", "TLV-11005", 5, "v0.40.0", "v5.20", CONFIG | SDCARD | QUICK_UPDATE, "Legacy panel"),
         probe=404, registers={"4584": 16, "4100": regs})
    unit("talvor-expired", "wss", 6,
         gen_conf("622", "TLV-21006", 6, "v0.64.0", "v5.61", full, "Expired certificate"),
         port80="302", cert="expired",
         taps=[tap(0, 1, 9, 3, "T3P-0601", 0x1234, caps=0x0D)])
    unit("talvor-cwm", "http", 7,
         gen_conf("622-cwm", "TLV-01007", 7, "v0.2.5", "v4.10", 0, "Compact wall meter"),
         probe=404, bus_sizes=[2, 2],
         taps=[tap(0, 1, 15, 24, "RM-0701", 0x1100), tap(1, 2, 16, 24, "PDI-0702", 0x1101)])
    unit("talvor-signed", "wss", 8,
         gen_conf("622", "TLV-21008", 8, "v0.66.0", "v5.70", full | SIGNATURE, "Signed firmware only",
                  second_mac=True),
         port80="refused", bus_sizes=[8, 8],
         taps=[tap(0, 1, 17, 30, "RMR-0801", 0x1120), tap(0, 2, 18, 30, "RML-0802", 0x1120),
               tap(1, 1, 19, 6, "SEN-0811", 0x1000), tap(1, 2, 20, 12, "TCP-0812", 0x1004)])
    unit("orvane-renew", "http", 9,
         gen_conf("522", "ORV-31009", 9, "v1.4.0", "v5.50", TAP_DETAILS | CONFIG | SDCARD, "Token renewal"),
         probe=404, csrf=["00c1d2e3"], taps=[tap(0, 1, 3, 8, "MP8-0901", 0x0121)])
    return {"discovery": "unit", "units": units}


def bulk(count, base, password):
    units = []
    for n in range(count):
        x, y = 1 + n // 250, 1 + n % 250
        system = "622" if n % 2 == 0 else "522"
        kind = "http" if n % 2 == 0 else "wss"
        g = gen_conf(system, "SIM-%05d" % n, n + 1, "v0.64.0", "v5.60",
                     TAP_DETAILS | CONFIG | SDCARD | PROGRESS, "Bulk unit %d" % n)
        units.append({"name": "sim-%d" % n, "kind": kind, "address": "%s.%d.%d" % (base, x, y),
                      "password": password, "salt": "%08x" % (n * 7919 + 11),
                      "gen_conf": g, "taps": [tap(0, 1, 3, 8, "MP-%05d" % n, 0x0123)],
                      "registers": {"4584": 8}})
    return {"discovery": "unit", "units": units}


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--demo", action="store_true")
    p.add_argument("--count", type=int, default=0)
    p.add_argument("--base", default=None)
    p.add_argument("--password", default="talvor-demo")
    args = p.parse_args()
    if args.demo:
        fleet = demo(args.base or "127.77.0", args.password)
    elif 0 < args.count <= 250 * 250:
        fleet = bulk(args.count, args.base or "127.3", args.password)
    else:
        p.error("give --demo or --count N")
    json.dump(fleet, sys.stdout, indent=1)
    sys.stdout.write("\n")


if __name__ == "__main__":
    main()
