#!/usr/bin/env python3
"""plantgen: writes plant configuration documents of any size for aeserver.

Generate a plant (a Configuration Summary and one ProducedData document per
producer, in the format of docs/configuration-documents.md):

    plantgen --producers N --blocks M [--seed S] [--digital-share F]
             [--embedded-share F] OUTDIR

Edit one producer of a generated plant, as an engineer would, for incremental
import tests (its ConfigTimeSecs always moves on by one second):

    plantgen --edit --producer ID [--add-blocks K] [--remove-blocks K]
             [--rename-areas K] [--seed S] OUTDIR

Output is the same for the same arguments. Exit codes: 0 done, 1 failure
(message on stderr), 2 usage.
"""

import argparse
import os
import random
import re
import sys
import xml.etree.ElementTree as ET

NAMESPACE = "urn:ralto:config:1.0"
SUMMARY_FILE = "ConfigurationSummary.xml"
EDIT_LOCK_FILE = "ConfigurationEditing.lock"
PRODUCED_DATA_FILE = re.compile(r"^ProducedData_\d+\.xml$")

UNITS = ["TANKFARM", "PUMPSTN", "REACTOR", "COMPRESS", "UTILITY",
         "DISTILL", "DRYER", "FLARE", "WATER", "LOADING"]
UNIT_AREAS = ["Tank Farm", "Pump Station", "Reactor Area", "Compression", "Utilities",
              "Distillation", "Dryer House", "Flare System", "Water Treatment", "Loading Bay"]

# Analog (O0C) tag prefixes: measured quantity and engineering unit.
ANALOG = [("LIC", "level", "%"), ("LI", "level", "%"), ("FIC", "flow", "m3/h"),
          ("FI", "flow", "m3/h"), ("TIC", "temperature", "degC"), ("TI", "temperature", "degC"),
          ("PIC", "pressure", "barg"), ("PI", "pressure", "barg"), ("AIC", "concentration", "ppm")]
# Digital (O0D) tag prefixes and what the switch reports.
DIGITAL = [("LSHH", "high-high level"), ("LSL", "low level"), ("PSL", "low pressure"),
           ("PSH", "high pressure"), ("TSH", "high temperature"), ("FSL", "low flow"),
           ("ZSO", "valve open"), ("XA", "emergency shutdown")]
# Equipment structures with embedded blocks: prefix, name, embedded blocks
# (local name, block type, what it measures or reports, unit).
EQUIPMENT = [("P", "pump", [("MTR", "O0D", "motor trip", ""),
                            ("TT1", "O0C", "bearing temperature", "degC")]),
             ("M", "mixer", [("MTR", "O0D", "motor trip", ""),
                             ("II", "O0C", "motor current", "A")]),
             ("K", "compressor", [("MTR", "O0D", "motor trip", ""),
                                  ("VT1", "O0C", "shaft vibration", "um"),
                                  ("TT2", "O0C", "discharge temperature", "degC")])]


def attr(text):
    return (str(text).replace("&", "&amp;").replace("<", "&lt;")
            .replace(">", "&gt;").replace('"', "&quot;"))


def write_atomically(path, text):
    temp = path + ".tmp"
    with open(temp, "w", encoding="utf-8", newline="\n") as f:
        f.write(text)
    os.replace(temp, path)


def produced_data_path(outdir, producer_id):
    return os.path.join(outdir, "ProducedData_%d.xml" % producer_id)


class PlantRandom:
    """The choices of one generated document, drawn from one seeded stream."""

    def __init__(self, seed):
        self.rng = random.Random(seed)

    def area(self, base):
        # Now and then an engineer's typing: the server normalises these.
        r = self.rng.random()
        if r < 0.03:
            return "/" + base
        if r < 0.06:
            return base + "/"
        if r < 0.09:
            return base.replace("/", "//", 1)
        if r < 0.12:
            return base.replace("/", " / ", 1)
        return base

    def message(self, text):
        # Placeholders are found without regard to case.
        if self.rng.random() < 0.1:
            return text.replace("%VAL", "%val").replace("%STATE", "%State")
        return text

    def priorities(self, count):
        codes = [self.rng.choice((0, 1, 2, 2, 3, 3, 4, 5)) for _ in range(count)]
        if self.rng.random() < 0.03:
            codes[self.rng.randrange(count)] = self.rng.choice((6, 9, -1))
        return ",".join(str(c) for c in codes)


def analog_members(block, rng, out):
    rate = rng.rng.random() < 0.4
    out.append('          <BlockSubElement Name="%s.AS" BlockType="O0C"/>' % block)
    if rate:
        out.append('          <BlockSubElement Name="%s.RS" BlockType="O0C"/>' % block)
    out.append('          <BlockSubElement Name="%s.LP" BlockType="O0C" InitValue="%s"/>'
               % (block, rng.priorities(6)))
    out.append('          <BlockSubElement Name="%s.FC" BlockType="O0C"/>' % block)
    out.append('          <BlockSubElement Name="%s.PI" BlockType="O0C"/>' % block)
    return rate


def digital_members(block, rng, out):
    out.append('          <BlockSubElement Name="%s.AS" BlockType="O0D"/>' % block)
    out.append('          <BlockSubElement Name="%s.LP" BlockType="O0D" InitValue="%s"/>'
               % (block, rng.priorities(1)))
    out.append('          <BlockSubElement Name="%s.FC" BlockType="O0D"/>' % block)
    out.append('          <BlockSubElement Name="%s.ST" BlockType="O0D"/>' % block)


def area_and_message(indent, area, message, roc_message, out):
    out.append('%s<Area Data="%s"/>' % (indent, attr(area)))
    if roc_message:
        out.append('%s<Message Data="%s" DataROC="%s"/>'
                   % (indent, attr(message), attr(roc_message)))
    else:
        out.append('%s<Message Data="%s"/>' % (indent, attr(message)))


def simple_block(number, area, digital, rng, out):
    """One alarm block in a structure of its own."""
    if digital:
        prefix, what = rng.rng.choice(DIGITAL)
        tag = prefix + number
        out.append('        <BlockStructure Name="%s" Description="%s %s switch">'
                   % (tag, tag, what))
        digital_members(tag, rng, out)
        area_and_message("          ", rng.area(area), rng.message(
            "%s %s, feedback %%VAL: %%STATE" % (tag, what)), None, out)
    else:
        prefix, what, unit = rng.rng.choice(ANALOG)
        tag = prefix + number
        out.append('        <BlockStructure Name="%s" Description="%s %s">' % (tag, tag, what))
        rate = analog_members(tag, rng, out)
        roc = rng.message("%s %s changing fast, %%VAL %s" % (tag, what, unit)) if rate else None
        area_and_message("          ", rng.area(area), rng.message(
            "%s %s %%VAL %s %%STATE" % (tag, what, unit)), roc, out)
    out.append("        </BlockStructure>")


def equipment_block(number, area, limit, rng, out):
    """A piece of equipment with up to `limit` embedded blocks; returns how many."""
    prefix, kind, parts = rng.rng.choice(EQUIPMENT)
    parts = parts[:max(1, limit)]
    tag = prefix + number
    out.append('        <BlockStructure Name="%s" Description="%s %s">' % (tag, kind.title(), tag))
    tails = []
    for local, block_type, what, unit in parts:
        block = "%s.%s" % (tag, local)
        if block_type == "O0D":
            digital_members(block, rng, out)
            text = "%s %s %s, running %%VAL: %%STATE" % (kind.title(), tag, what)
            roc = None
        else:
            rate = analog_members(block, rng, out)
            text = "%s %s %s %%VAL %s %%STATE" % (kind.title(), tag, what, unit)
            roc = "%s %s %s rising fast, %%VAL %s" % (kind.title(), tag, what, unit) if rate else None
        tails.append('          <EmbeddedBlock Name="%s" Reference="%s" BlockType="%s">'
                     % (local, block, block_type))
        area_and_message("            ", rng.area("%s/%s %s" % (area, kind.title(), tag)),
                         rng.message(text), roc and rng.message(roc), tails)
        tails.append("          </EmbeddedBlock>")
    out.append('          <Area Data="%s"/>' % attr(area))
    out.extend(tails)
    out.append("        </BlockStructure>")
    return len(parts)


def produced_data(producer_id, name, secs, nsecs, structures):
    head = ['<?xml version="1.0" encoding="UTF-8"?>',
            '<ProducedData xmlns="%s">' % NAMESPACE,
            '  <Producer Name="%s" ProducerId="%d" ConfigTimeSecs="%d" ConfigTimeNSecs="%d">'
            % (name, producer_id, secs, nsecs),
            "    <RaltoConfigExtension>",
            "      <BlockStructures>"]
    tail = ["      </BlockStructures>", "    </RaltoConfigExtension>", "  </Producer>",
            "</ProducedData>", ""]
    return "\n".join(head + structures + tail)


def generate_producer(seed, producer_id, blocks, digital_share, embedded_share):
    rng = PlantRandom("%s:%d" % (seed, producer_id))
    unit = (producer_id - 1) % len(UNITS)
    name = "%s%d" % (UNITS[unit], producer_id)
    secs = 1700000000 + rng.rng.randrange(30000000)
    nsecs = rng.rng.randrange(1000000000)
    out = []
    i = 0
    while i < blocks:
        # Tag numbers: section (hundreds) and loop; unique within the node.
        number = "%d%02d" % (i // 100 + 1, i % 100)
        area = "%s %d/Section %d" % (UNIT_AREAS[unit], producer_id, i // 500 + 1)
        if rng.rng.random() < embedded_share:
            i += equipment_block(number, area, blocks - i, rng, out)
        else:
            simple_block(number, area, rng.rng.random() < digital_share, rng, out)
            i += 1
    return name, produced_data(producer_id, name, secs, nsecs, out)


def summary(seed, names):
    lines = ['<?xml version="1.0" encoding="UTF-8"?>',
             '<ConfigurationSummary xmlns="%s" Plant="Generated plant, seed %s">'
             % (NAMESPACE, attr(seed))]
    for producer_id, name in names:
        lines += ['  <NodeSummary Name="%s" ProducerId="%d">' % (name, producer_id),
                  '    <Document DocType="ProducedData"/>',
                  '    <Document DocType="ConsumedData"/>',
                  "  </NodeSummary>"]
    lines += ['  <NodeSummary Name="HMI01" ProducerId="%d">' % (len(names) + 90),
              '    <Document DocType="ConsumedData"/>',
              "  </NodeSummary>",
              "</ConfigurationSummary>", ""]
    return "\n".join(lines)


def generate(args):
    os.makedirs(args.outdir, exist_ok=True)
    # Documents of producers left over from a bigger plant would still be served.
    for entry in os.listdir(args.outdir):
        if PRODUCED_DATA_FILE.match(entry):
            os.remove(os.path.join(args.outdir, entry))
    names = []
    for producer_id in range(1, args.producers + 1):
        name, text = generate_producer(args.seed, producer_id, args.blocks,
                                       args.digital_share, args.embedded_share)
        write_atomically(produced_data_path(args.outdir, producer_id), text)
        names.append((producer_id, name))
    write_atomically(os.path.join(args.outdir, SUMMARY_FILE), summary(args.seed, names))


def q(name):
    return "{%s}%s" % (NAMESPACE, name)


def alarm_structures(root):
    path = "./%s/%s/%s/%s" % (q("Producer"), q("RaltoConfigExtension"), q("BlockStructures"),
                              q("BlockStructure"))
    return [s for s in root.findall(path)
            if any(m.get("BlockType") in ("O0C", "O0D") for m in s.findall(q("BlockSubElement")))]


def normalize_area(text):
    """The area path that aeserver makes of an Area's Data."""
    text = text.replace(" ", "_")
    if text.endswith("/"):
        text = text[:-1] + "_"
    if text.startswith("/"):
        text = "_" + text[1:]
    parts = [p for p in text.split("/") if p]
    return "/".join(parts) if parts else text


def effective_areas(structure):
    """The Area elements that the import takes: the structure's own when it
    has members of its own, and those of its embedded blocks."""
    name = structure.get("Name")
    own = any(m.get("Name", "").rsplit(".", 1)[0] == name
              for m in structure.findall(q("BlockSubElement")))
    areas = structure.findall(q("Area")) if own else []
    return areas + structure.findall("%s/%s" % (q("EmbeddedBlock"), q("Area")))


def edit(args):
    path = produced_data_path(args.outdir, args.producer)
    if not os.path.exists(path):
        raise RuntimeError("no document for producer %d: %s" % (args.producer, path))
    parser = ET.XMLParser(target=ET.TreeBuilder(insert_comments=True))
    tree = ET.parse(path, parser)
    root = tree.getroot()
    producer = root.find(q("Producer"))
    if producer is None or producer.get("ConfigTimeSecs") is None:
        raise RuntimeError("%s has no Producer with ConfigTimeSecs" % path)
    secs = int(producer.get("ConfigTimeSecs"))
    rng = PlantRandom("%s:%d:%d" % (args.seed, args.producer, secs))
    holder = producer.find("%s/%s" % (q("RaltoConfigExtension"), q("BlockStructures")))
    if holder is None:
        raise RuntimeError("%s has no RaltoConfigExtension/BlockStructures" % path)
    structures = alarm_structures(root)

    removed = rng.rng.sample(structures, min(args.remove_blocks, len(structures)))
    for s in removed:
        holder.remove(s)
    gone = {id(s) for s in removed}
    kept = [s for s in structures if id(s) not in gone]

    areas = [a for s in kept for a in effective_areas(s)]
    names = sorted({a.get("Data", "") for a in areas})
    for a in rng.rng.sample(areas, min(args.rename_areas, len(areas))):
        old = normalize_area(a.get("Data", ""))
        others = [n for n in names if normalize_area(n) != old]
        a.set("Data", rng.rng.choice(others) if others else a.get("Data", "") + "/Relocated")

    taken = {s.get("Name") for s in holder.findall(q("BlockStructure"))}
    unit = UNIT_AREAS[(args.producer - 1) % len(UNIT_AREAS)]
    added = []
    number = 9000
    while len(added) < args.add_blocks:
        number += 1
        text = []
        simple_block(str(number), "%s %d/Additions" % (unit, args.producer),
                     rng.rng.random() < 0.3, rng, text)
        element = ET.fromstring('<X xmlns="%s">%s</X>' % (NAMESPACE, "\n".join(text)))[0]
        if element.get("Name") not in taken:
            taken.add(element.get("Name"))
            added.append(element)
    holder.extend(added)

    producer.set("ConfigTimeSecs", str(secs + 1))
    ET.register_namespace("", NAMESPACE)
    ET.indent(tree, space="  ")
    lock = os.path.join(args.outdir, EDIT_LOCK_FILE)
    open(lock, "w").close()
    try:
        text = ET.tostring(root, encoding="unicode").replace(" />", "/>")
        write_atomically(path, '<?xml version="1.0" encoding="UTF-8"?>\n' + text + "\n")
    finally:
        os.remove(lock)


def share(text):
    value = float(text)
    if not 0.0 <= value <= 1.0:
        raise argparse.ArgumentTypeError("a share lies between 0 and 1")
    return value


def count(text):
    value = int(text)
    if value < 0:
        raise argparse.ArgumentTypeError("a count is 0 or more")
    return value


def main(argv):
    p = argparse.ArgumentParser(prog="plantgen", description=__doc__.split("\n")[0])
    p.add_argument("outdir", metavar="OUTDIR")
    p.add_argument("--seed", default="1", help="seed of the random choices (default 1)")
    p.add_argument("--producers", type=count, help="number of producer nodes")
    p.add_argument("--blocks", type=count, help="alarm blocks per producer")
    p.add_argument("--digital-share", type=share, default=0.3,
                   help="share of O0D blocks among the simple blocks (default 0.3)")
    p.add_argument("--embedded-share", type=share, default=0.1,
                   help="chance that a block position starts an equipment structure "
                        "with embedded blocks (default 0.1)")
    p.add_argument("--edit", action="store_true", help="edit one producer of OUTDIR")
    p.add_argument("--producer", type=count, help="the producer to edit (its ProducerId)")
    p.add_argument("--add-blocks", type=count, default=0, help="blocks to add")
    p.add_argument("--remove-blocks", type=count, default=0, help="block structures to remove")
    p.add_argument("--rename-areas", type=count, default=0, help="Area elements to change")
    args = p.parse_args(argv)
    if args.edit:
        if args.producer is None or args.producers is not None or args.blocks is not None:
            p.error("--edit needs --producer and takes no --producers or --blocks")
    elif args.producers is None or args.blocks is None or args.producer is not None:
        p.error("give --producers and --blocks (or --edit --producer ID)")
    try:
        edit(args) if args.edit else generate(args)
    except (OSError, RuntimeError, ET.ParseError, ValueError) as e:
        print("plantgen: %s" % e, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
