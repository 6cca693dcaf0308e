#!/usr/bin/env python3
"""Evaluates the built udev rule against a made-up sysfs device tree, the way
udev matches: plain keys against the event's device, the keys ending in S
(SUBSYSTEMS, KERNELS, DRIVERS, ATTRS) all against one device among it and its
parents. usage: check_udev_rule.py RULES_FILE"""
import fnmatch, re, sys

def dev(kernel, subsystem, parent=None, driver="", **attrs):
    return {"kernel": kernel, "subsystem": subsystem, "driver": driver, "parent": parent,
            "attrs": {k.replace("__", "-"): v for k, v in attrs.items()}}

def pci(slot, vendor, device, sv, sd, parent=None):
    return dev(slot, "pci", parent, "xe", vendor=vendor, device=device,
               subsystem_vendor=sv, subsystem_device=sd)

def i2c_node(n, adapter_name, parent):
    adapter = dev(f"i2c-{n}", "i2c", parent, name=adapter_name)
    return dev(f"i2c-{n}", "i2c-dev", adapter, name=adapter_name), adapter

DW, DDC = "Synopsys DesignWare I2C adapter", "i915 gmbus dpb"
root = dev("pci0000:00", "")
switch = pci("0000:01:00.0", "0x8086", "0xe2ff", "0x1f2e", "0x4158", root)
card = pci("0000:03:00.0", "0x8086", "0xe20b", "0x1f2e", "0x4158", switch)
other = pci("0000:04:00.0", "0x8086", "0xe20b", "0x8086", "0x1100", root)
lpss = pci("0000:00:15.0", "0x8086", "0x7acc", "0x1043", "0x8882", root)
card_dw, card_dw_adapter = i2c_node(7, DW, dev("i2c_designware.3", "platform", card))
card_ddc, _ = i2c_node(8, DDC, card)
other_dw, _ = i2c_node(9, DW, dev("i2c_designware.4", "platform", other))
board_dw, _ = i2c_node(0, DW, dev("i2c_designware.0", "platform", lpss))

CASES = [  # (what, device, action, tagged)
    ("the card's DesignWare adapter, added", card_dw, "add", True),
    ("the card's DesignWare adapter, changed", card_dw, "change", True),
    ("the card's DesignWare adapter, removed", card_dw, "remove", False),
    ("the card's DesignWare adapter itself, not its node", card_dw_adapter, "add", False),
    ("a DDC adapter of the same card", card_ddc, "add", False),
    ("another maker's B580", other_dw, "add", False),
    ("the motherboard's DesignWare adapter", board_dw, "add", False),
]

KEY = re.compile(r'\s*([A-Z_]+)(?:\{([^}]*)\})?\s*(==|!=|\+=|:=|=)\s*"([^"]*)"\s*(?:,|$)')
EVENT = {"ACTION", "SUBSYSTEM", "KERNEL", "ATTR", "DRIVER"}
PARENT = {"SUBSYSTEMS": "subsystem", "KERNELS": "kernel", "DRIVERS": "driver", "ATTRS": None}

def parse(line):
    keys, pos = [], 0
    while pos < len(line):
        m = KEY.match(line, pos)
        if not m:
            sys.exit(f"cannot read the rule at: {line[pos:]}")
        keys.append(m.groups())
        pos = m.end()
    return keys

def matches(value, pattern):
    return value is not None and any(fnmatch.fnmatchcase(value, p) for p in pattern.split("|"))

def field(d, key, attr, action):
    if key == "ACTION":
        return action
    if key in ("ATTR", "ATTRS"):
        return d["attrs"].get(attr)
    return d[PARENT.get(key) or key.lower()]

def tags(rules, d, action):
    out = set()
    for keys in rules:
        tests = [k for k in keys if k[2] in ("==", "!=")]
        for k in tests:
            if k[0] not in EVENT and k[0] not in PARENT:
                sys.exit(f"the checker does not know the match key {k[0]}")
        own = all(matches(field(d, k, a, action), v) == (op == "==")
                  for k, a, op, v in tests if k in EVENT)
        parents, node = [t for t in tests if t[0] in PARENT], d
        found = not parents
        while node and not found:
            found = all(matches(field(node, k, a, action), v) == (op == "==")
                        for k, a, op, v in parents)
            node = node["parent"]
        if own and found:
            out |= {v for k, _, op, v in keys if k == "TAG" and op in ("+=", "=")}
    return out

lines = [l.strip() for l in open(sys.argv[1]) if l.strip() and not l.lstrip().startswith("#")]
rules = [parse(l) for l in lines]
failed = 0
for what, d, action, tagged in CASES:
    got = "uaccess" in tags(rules, d, action)
    print(f"{'ok  ' if got == tagged else 'FAIL'} {what}: {'tagged' if got else 'not tagged'}")
    failed += got != tagged
sys.exit(1 if failed else 0)
