#!/usr/bin/env python3
"""Generates a record catalogue (structures, descriptors, coders, lookup
tables) from its schema. One schema per catalogue; see the header comment of
field/xelfield.schema for the format.

    gen_catalogue.py --schema S --source xelfield --prefix Xel --coders stream --out DIR
    gen_catalogue.py --schema S --stats

--coders stream  emits to_stream/from_stream wire coders per record;
--coders struct  emits to_struct/from_struct fixed-point converters.
"""
import argparse
import os
import re
import sys

# type code, C declaration type, size, alignment
MEMBER_TYPES = {
    'UINT8': (1, 'unsigned char', 1),
    'UINT16': (2, 'unsigned short', 2),
    'UINT32': (3, 'unsigned int', 4),
    'UINT64': (4, 'unsigned long long', 8),
    'INT8': (5, 'signed char', 1),
    'INT16': (6, 'short', 2),
    'INT32': (7, 'int', 4),
    'INT64': (8, 'long long', 8),
    'FLOAT32': (9, 'float', 4),
    'FLOAT64': (10, 'double', 8),
    'CHAR': (11, 'char', 1),
    'STRING': (12, 'char', 1),
    'VINT32': (23, 'int', 4),
    'VINT64': (24, 'long long', 8),
}
for _n in range(9):
    MEMBER_TYPES['FIXEDPOINT%d' % _n] = (14 + _n, 'long long', 8)

# Literals identical to the descriptor tables, so both coders use the same doubles.
FIXED_INVERSE = ['1e0', '1e-1', '1e-2', '1e-3', '1e-4', '1e-5', '1e-6', '1e-7', '1e-8']
FIXED_POWER = ['1.0', '10.0', '100.0', '1000.0', '10000.0', '100000.0', '1000000.0',
               '10000000.0', '100000000.0']

IDENT = re.compile(r'^[A-Za-z_][A-Za-z0-9_]*$')
MAX_MEMBERS = 512


class SchemaError(Exception):
    pass


class Member:
    def __init__(self, name, domain, kind, size, key):
        self.name, self.domain, self.kind, self.size, self.key = name, domain, kind, size, key
        self.offset = 0
        self.stream_offset = 0

    @property
    def code(self):
        return MEMBER_TYPES[self.kind][0]

    @property
    def fixed_digits(self):
        return int(self.kind[10:]) if self.kind.startswith('FIXEDPOINT') else None


class Record:
    def __init__(self, name, field_id, describe, line):
        self.name, self.field_id, self.describe, self.line = name, field_id, describe, line
        self.members = []
        self.struct_size = 0
        self.stream_size = 0

    def layout(self):
        offset, stream, align_max = 0, 0, 1
        for m in self.members:
            align = MEMBER_TYPES[m.kind][2]
            offset = (offset + align - 1) // align * align
            m.offset, m.stream_offset = offset, stream
            offset += m.size
            stream += m.size
            align_max = max(align_max, align)
        self.struct_size = (offset + align_max - 1) // align_max * align_max
        self.stream_size = stream


def parse_int(text, where):
    try:
        return int(text, 0)
    except ValueError:
        raise SchemaError('%s: not a number: %r' % (where, text))


RECORD_USAGE = 'expected "record <Name> <id> [like <Record>] [describe]"'


class SchemaParser(object):
    """Reads one schema file; one method per directive, each given the
    line's words and its place for messages."""

    def __init__(self, path, imported):
        self.path = path
        self.imported = imported
        imported.add(os.path.abspath(path))
        self.types, self.records, self.packets, self.templates = {}, [], [], {}
        self.record_names, self.field_ids, self.tids, self.packet_names = {}, {}, {}, {}
        self.current = None  # the record that member lines go to

    def parse(self):
        directives = {'import': self.parse_import, 'type': self.parse_type,
                      'record': self.parse_record, 'packet': self.parse_packet}
        with open(self.path) as f:
            lines = f.read().split('\n')
        for number, raw in enumerate(lines, 1):
            where = '%s:%d' % (self.path, number)
            line = raw.split('#', 1)[0].strip()
            if not line:
                continue
            words = line.split()
            directive = directives.get(words[0])
            if directive is None:
                self.parse_member(words, where, line)
            else:
                directive(words, where, number)
        self.finish()
        return self.records, self.packets, self.templates, self.types

    def parse_import(self, words, where, number):
        if len(words) != 2:
            raise SchemaError('%s: expected "import <schema file>"' % where)
        other = os.path.join(os.path.dirname(self.path), words[1])
        if os.path.abspath(other) in self.imported:
            raise SchemaError('%s: %s imported twice or in a cycle' % (where, words[1]))
        if not os.path.exists(other):
            raise SchemaError('%s: cannot find %s' % (where, words[1]))
        _, _, sub_templates, sub_types = parse_schema(other, self.imported)
        for name, definition in sub_types.items():
            if name in self.types and self.types[name] != definition:
                raise SchemaError('%s: type %s imported with another definition' % (where, name))
            self.types[name] = definition
        self.templates.update(sub_templates)
        self.current = None

    def parse_type(self, words, where, number):
        if len(words) not in (3, 4):
            raise SchemaError('%s: expected "type <Name> <MemberType> [size]"' % where)
        name, kind = words[1], words[2]
        if kind not in MEMBER_TYPES:
            raise SchemaError('%s: unknown member type %r' % (where, kind))
        if kind == 'STRING':
            if len(words) != 4:
                raise SchemaError('%s: STRING type %r needs a size' % (where, name))
            size = parse_int(words[3], where)
            if not 2 <= size <= 4000:
                raise SchemaError('%s: bad STRING size %d' % (where, size))
        else:
            if len(words) != 3:
                raise SchemaError('%s: only STRING types take a size' % where)
            size = MEMBER_TYPES[kind][2] if kind not in ('CHAR',) else 1
        if len(name) > 63 or not IDENT.match(name):
            raise SchemaError('%s: bad type name %r' % (where, name))
        if name in self.types:
            raise SchemaError('%s: duplicate type %r' % (where, name))
        self.types[name] = (kind, size)
        self.current = None

    def parse_record(self, words, where, number):
        rest = words[3:]
        describe = bool(rest) and rest[-1] == 'describe'
        if describe:
            rest = rest[:-1]
        like = None
        if len(rest) == 2 and rest[0] == 'like':
            like = rest[1]
        elif rest or len(words) < 3:
            raise SchemaError('%s: %s' % (where, RECORD_USAGE))
        name, field_id = words[1], parse_int(words[2], where)
        if len(name) > 63 or not IDENT.match(name):
            raise SchemaError('%s: bad record name %r' % (where, name))
        if not 0 <= field_id <= 0xFFFF:
            raise SchemaError('%s: field id out of range' % where)
        if name in self.record_names:
            raise SchemaError('%s: duplicate record %r (first at line %d)' %
                              (where, name, self.record_names[name]))
        if field_id in self.field_ids:
            raise SchemaError('%s: duplicate field id 0x%04X (also %s)' %
                              (where, field_id, self.field_ids[field_id]))
        self.record_names[name], self.field_ids[field_id] = number, name
        self.current = Record(name, field_id, describe, number)
        if like is not None:
            if like not in self.templates:
                raise SchemaError('%s: unknown record %r after like' % (where, like))
            self.current.members = [Member(m.name, m.domain, m.kind, m.size, m.key)
                                    for m in self.templates[like]]
        self.records.append(self.current)
        self.templates[name] = self.current.members

    def parse_packet(self, words, where, number):
        if len(words) != 3:
            raise SchemaError('%s: expected "packet <tid> <Name>"' % where)
        tid, name = parse_int(words[1], where), words[2]
        if not 0 <= tid <= 0xFFFF:
            raise SchemaError('%s: tid out of range' % where)
        if len(name) > 63 or not IDENT.match(name):
            raise SchemaError('%s: bad transaction name %r' % (where, name))
        if tid in self.tids:
            raise SchemaError('%s: duplicate tid 0x%04X (also %s)' % (where, tid, self.tids[tid]))
        if name in self.packet_names:
            raise SchemaError('%s: duplicate transaction name %r' % (where, name))
        self.tids[tid], self.packet_names[name] = name, tid
        self.packets.append((tid, name))
        self.current = None

    def parse_member(self, words, where, line):
        current = self.current
        if current is None:
            raise SchemaError('%s: member line outside a record: %r' % (where, line))
        if len(words) not in (2, 3) or (len(words) == 3 and words[2] != 'key'):
            raise SchemaError('%s: expected "<Member> <DomainType> [key]"' % where)
        name, domain = words[0], words[1]
        if not IDENT.match(name) or len(name) > 127:
            raise SchemaError('%s: bad member name %r' % (where, name))
        if domain not in self.types:
            raise SchemaError('%s: unknown type %r' % (where, domain))
        if any(m.name == name for m in current.members):
            raise SchemaError('%s: duplicate member %r in %s' % (where, name, current.name))
        if len(current.members) >= MAX_MEMBERS:
            raise SchemaError('%s: more than %d members' % (where, MAX_MEMBERS))
        kind, size = self.types[domain]
        current.members.append(Member(name, domain, kind, size, len(words) == 3))

    def finish(self):
        for r in self.records:
            if not r.members:
                raise SchemaError('%s:%d: record %s has no members' % (self.path, r.line, r.name))
            r.layout()
            if r.struct_size > 0xFFFF:
                raise SchemaError('%s:%d: record %s too large' % (self.path, r.line, r.name))


def parse_schema(path, imported=None):
    """Returns (records, packets, templates, types). templates maps every
    record name visible to "like" (imported ones and this schema's own) to
    its member list. imported collects the paths already read (no cycles)."""
    return SchemaParser(path, set() if imported is None else imported).parse()


def emit_header(out, records, source, prefix, coders):
    low = prefix.lower()
    guard = 'XELMD_FIELD_%s_H' % source.upper()
    w = out.append
    w('// Generated by field/gen_catalogue.py from field/%s.schema; do not edit.' % source)
    w('#ifndef %s' % guard)
    w('#define %s' % guard)
    w('')
    w('#include "base/field_desc.h"')
    w('#include "field/catalogue.h"')
    w('')
    w('namespace Base {')
    w('class Map;')
    w('}')
    w('')
    w('namespace Field {')
    w('')
    for r in records:
        w('struct %s {' % r.name)
        for m in r.members:
            ctype = MEMBER_TYPES[m.kind][1]
            if m.kind == 'STRING':
                w('    %s %s[%d];' % (ctype, m.name, m.size))
            else:
                w('    %s %s;' % (ctype, m.name))
        w('')
        w('    static Base::FieldDesc DESC;')
        w('    static void describe_static();')
        if r.describe:
            w('    void describe();')
        if coders == 'stream':
            w('    static void to_stream(const void* record, void* out, int length);')
            w('    static int from_stream(void* record, const void* in, int length, bool keep_double);')
        else:
            w('    static void to_struct(const void* src, void* dst, int length);')
            w('    static int from_struct(void* dst, const void* src, int length);')
        w('};')
        w('')
    w('// Lookup tables, filled at program start.')
    for t in ('name', 'field', 'packet', 'packet_name'):
        w('extern Base::Map g_all_%s_%s_map;' % (low, t))
    w('')
    w('const int %s_FIELD_COUNT = %d;' % (prefix.upper(), len(records)))
    kind = 'FieldStreamCoders' if coders == 'stream' else 'FieldStructCoders'
    w('// Every record type with its coders, in field-id order of the schema.')
    w('extern const %s g_%s_field_list[%s_FIELD_COUNT];' % (kind, low, prefix.upper()))
    w('')
    w('Base::FieldDesc* get_%s_field_desc(const char* name);' % low)
    w('Base::FieldDesc* get_%s_field_desc(unsigned short field_id);' % low)
    w('const char* get_%s_packet_name(unsigned short tid);' % low)
    w('unsigned short get_%s_packet_id(const char* name);' % low)
    w('bool save_%s_field(const char* path);' % low)
    w('bool load_%s_field(const char* path);' % low)
    w('')
    w('}  // namespace Field')
    w('')
    w('#endif  // %s' % guard)


def setup_call(r, m, target, offset_expr):
    return ('    %s.setup_member(static_cast<DataType>(%d), %d, %d, 1, %s, "%s", "%s", %s);' %
            (target, m.code, m.size, m.size, offset_expr, m.domain, m.name,
             'true' if m.key else 'false'))


def emit_tables_source(out, records, packets, source, prefix, coders):
    low = prefix.lower()
    w = out.append
    w('// Generated by field/gen_catalogue.py from field/%s.schema; do not edit.' % source)
    w('#include "field/%s.h"' % source)
    w('')
    w('#include <cstddef>')
    w('#include <cstring>')
    w('')
    w('#include "base/map.h"')
    w('')
    w('namespace Field {')
    w('')
    for r in records:
        w('static_assert(sizeof(%s) == %d, "%s layout");' % (r.name, r.struct_size, r.name))
        for m in r.members:
            w('static_assert(offsetof(%s, %s) == %d, "%s.%s offset");' %
              (r.name, m.name, m.offset, r.name, m.name))
    w('')
    for r in records:
        if r.describe:
            w('void %s::describe() {' % r.name)
            w('    const char* base = reinterpret_cast<const char*>(this);')
            for m in r.members:
                w(setup_call(r, m, 'DESC',
                             'static_cast<int>(reinterpret_cast<const char*>(&%s) - base)' % m.name))
            w('}')
            w('')
            w('void %s::describe_static() {' % r.name)
            w('    %s record;' % r.name)
            w('    memset(&record, 0, sizeof record);')
            w('    record.describe();')
            w('}')
        else:
            w('void %s::describe_static() {' % r.name)
            for m in r.members:
                w(setup_call(r, m, 'DESC', 'offsetof(%s, %s)' % (r.name, m.name)))
            w('}')
        w('')
    w('// Descriptors first: the tables below and their filler are defined after')
    w('// them in this unit, so they are constructed in this order at start-up.')
    for r in records:
        w('Base::FieldDesc %s::DESC(0x%04X, sizeof(%s), "%s", &%s::describe_static);' %
          (r.name, r.field_id, r.name, r.name, r.name))
    w('')
    w('Base::Map g_all_%s_name_map(TYPE_STRING, 4096, Catalogue::NAME_SIZE, 0, 0, 0, nullptr);' % low)
    w('Base::Map g_all_%s_field_map(TYPE_UINT16, 4096, 2, 0, 0, 0, nullptr);' % low)
    w('Base::Map g_all_%s_packet_map(TYPE_UINT16, 4096, 2, Catalogue::NAME_SIZE, 0, 0, nullptr);' % low)
    w('Base::Map g_all_%s_packet_name_map(TYPE_STRING, 4096, Catalogue::NAME_SIZE, 2, 0, 0, nullptr);' % low)
    w('')
    kind = 'FieldStreamCoders' if coders == 'stream' else 'FieldStructCoders'
    a, b = ('to_stream', 'from_stream') if coders == 'stream' else ('to_struct', 'from_struct')
    w('const %s g_%s_field_list[%s_FIELD_COUNT] = {' % (kind, low, prefix.upper()))
    for r in records:
        w('    {&%s::DESC, &%s::%s, &%s::%s},' % (r.name, r.name, a, r.name, b))
    w('};')
    w('')
    w('namespace {')
    w('')
    w('const Catalogue::Packet k_packets[] = {')
    for tid, name in packets:
        w('    {0x%04X, "%s"},' % (tid, name))
    w('};')
    w('')
    w('Catalogue make_catalogue() {')
    w('    Catalogue c;')
    w('    c.name_map = &g_all_%s_name_map;' % low)
    w('    c.field_map = &g_all_%s_field_map;' % low)
    w('    c.packet_map = &g_all_%s_packet_map;' % low)
    w('    c.packet_name_map = &g_all_%s_packet_name_map;' % low)
    w('    return c;')
    w('}')
    w('')
    w('struct Registrar {')
    w('    Registrar() {')
    w('        Catalogue c = make_catalogue();')
    w('        for (const auto& entry : g_%s_field_list) c.add_field(entry.desc);' % low)
    w('        for (const auto& packet : k_packets) c.add_packet(packet.tid, packet.name);')
    w('    }')
    w('} registrar;')
    w('')
    w('}  // namespace')
    w('')
    w('Base::FieldDesc* get_%s_field_desc(const char* name) {' % low)
    w('    return make_catalogue().find_field(name);')
    w('}')
    w('Base::FieldDesc* get_%s_field_desc(unsigned short field_id) {' % low)
    w('    return make_catalogue().find_field(field_id);')
    w('}')
    w('const char* get_%s_packet_name(unsigned short tid) {' % low)
    w('    return make_catalogue().find_packet_name(tid);')
    w('}')
    w('unsigned short get_%s_packet_id(const char* name) {' % low)
    w('    return make_catalogue().find_packet_id(name);')
    w('}')
    w('bool save_%s_field(const char* path) { return make_catalogue().save(path); }' % low)
    w('bool load_%s_field(const char* path) { return make_catalogue().load(path); }' % low)


def wire_put(m, indent):
    d = m.fixed_digits
    if d is not None:
        return '%sXmpPacket::put_fixed(s + %d, r + %d, %s);' % (
            indent, m.stream_offset, m.offset, FIXED_INVERSE[d])
    if m.kind in ('STRING', 'CHAR', 'UINT8', 'INT8'):
        return '%smemcpy(s + %d, r + %d, %d);' % (indent, m.stream_offset, m.offset, m.size)
    return '%sBase::swap_copy(s + %d, r + %d, %d);' % (indent, m.stream_offset, m.offset, m.size)


def wire_get(m, indent, keep):
    """keep: True/False for a known keep_double, None to test it at run time."""
    d = m.fixed_digits
    if d is not None:
        if keep is True:
            return '%sBase::swap_copy(r + %d, s + %d, 8);' % (indent, m.offset, m.stream_offset)
        flag = 'keep_double' if keep is None else 'false'
        return '%sXmpPacket::get_fixed(r + %d, s + %d, %s, %s);' % (
            indent, m.offset, m.stream_offset, FIXED_POWER[d], flag)
    if m.kind == 'STRING' and m.size > 1:
        # A peer may fill a string to its full width; what reaches a record
        # keeps size - 1 characters and its terminator.
        return '%smemcpy(r + %d, s + %d, %d);\n%sr[%d] = 0;' % (
            indent, m.offset, m.stream_offset, m.size - 1, indent, m.offset + m.size - 1)
    if m.kind in ('STRING', 'CHAR', 'UINT8', 'INT8'):
        return '%smemcpy(r + %d, s + %d, %d);' % (indent, m.offset, m.stream_offset, m.size)
    return '%sBase::swap_copy(r + %d, s + %d, %d);' % (indent, m.offset, m.stream_offset, m.size)


def emit_stream_coders(w, r):
    # A whole record takes the straight path; a shorter one checks member by
    # member where the zero fill starts.
    has_fixed = any(m.fixed_digits is not None for m in r.members)
    w('void %s::to_stream(const void* record, void* out, int length) {' % r.name)
    w('    const char* r = static_cast<const char*>(record);')
    w('    char* s = static_cast<char*>(out);')
    w('    if (length >= %d) {' % (r.members[-1].offset + r.members[-1].size))
    for m in r.members:
        w(wire_put(m, '        '))
    w('        return;')
    w('    }')
    for m in r.members:
        w('    if (length < %d) return zero(s, %d, %d);' %
          (m.offset + m.size, m.stream_offset, r.stream_size - m.stream_offset))
        w(wire_put(m, '    '))
    w('}')
    w('')
    w('int %s::from_stream(void* record, const void* in, int length, bool keep_double) {' % r.name)
    w('    char* r = static_cast<char*>(record);')
    w('    const char* s = static_cast<const char*>(in);')
    w('    if (length >= %d) {' % r.stream_size)
    if has_fixed:
        w('        if (keep_double) {')
        for m in r.members:
            w(wire_get(m, '            ', True))
        w('        } else {')
        for m in r.members:
            w(wire_get(m, '            ', False))
        w('        }')
    else:
        for m in r.members:
            w(wire_get(m, '        ', None))
    w('        return %d;' % len(r.members))
    w('    }')
    if not has_fixed:
        w('    (void)keep_double;')
    for i, m in enumerate(r.members):
        w('    if (length < %d) return zero(r, %d, %d, %d);' %
          (m.stream_offset + m.size, m.offset, r.struct_size - m.offset, i))
        w(wire_get(m, '    ', None))
    w('    return %d;' % len(r.members))
    w('}')
    w('')


def emit_struct_coders(w, r):
    for name, conv, table in (('to_struct', 'fixed_to_double', FIXED_INVERSE),
                              ('from_struct', 'double_to_fixed', FIXED_POWER)):
        ret = 'int' if name == 'from_struct' else 'void'
        args = ('const void* src, void* dst, int length' if name == 'to_struct'
                else 'void* dst, const void* src, int length')
        w('%s %s::%s(%s) {' % (ret, r.name, name, args))
        w('    const char* s = static_cast<const char*>(src);')
        w('    char* d = static_cast<char*>(dst);')
        for i, m in enumerate(r.members):
            tail = ', %d' % i if ret == 'int' else ''
            w('    if (length < %d) return zero(d, %d, %d%s);' %
              (m.offset + m.size, m.offset, r.struct_size - m.offset, tail))
            dg = m.fixed_digits
            if dg is not None:
                w('    XmpPacket::%s(d + %d, s + %d, %s);' % (conv, m.offset, m.offset, table[dg]))
            else:
                w('    memcpy(d + %d, s + %d, %d);' % (m.offset, m.offset, m.size))
        if ret == 'int':
            w('    return %d;' % len(r.members))
        w('}')
        w('')


def emit_coders_source(out, records, source, coders):
    w = out.append
    w('// Generated by field/gen_catalogue.py from field/%s.schema; do not edit.' % source)
    w('// Unrolled per-record coders: the generic descriptor coders with every')
    w('// offset and fixed-point factor folded into constants.')
    w('#include <cstring>')
    w('')
    w('#include "base/byte_order.h"')
    w('#include "field/%s.h"' % source)
    w('#include "network/xmp_packet.h"')
    w('')
    w('namespace Field {')
    w('')
    w('using Network::XmpPacket;')
    w('')
    w('namespace {')
    w('')
    w('inline void zero(char* p, int from, int count) { memset(p + from, 0, count); }')
    w('inline int zero(char* p, int from, int count, int result) {')
    w('    memset(p + from, 0, count);')
    w('    return result;')
    w('}')
    w('')
    w('}  // namespace')
    w('')
    for r in records:
        if coders == 'stream':
            emit_stream_coders(w, r)
        else:
            emit_struct_coders(w, r)


def write_if_changed(path, lines):
    text = '\n'.join(lines) + '\n'
    try:
        with open(path) as f:
            if f.read() == text:
                return
    except OSError:
        pass
    with open(path, 'w') as f:
        f.write(text)


def print_stats(records, packets):
    totals = {}
    for r in records:
        for m in r.members:
            totals[m.kind] = totals.get(m.kind, 0) + 1
    print('%d records, %d transactions, %d members' %
          (len(records), len(packets), sum(totals.values())))
    for kind, n in sorted(totals.items(), key=lambda kv: -kv[1]):
        print('  %-12s %d' % (kind, n))


def main():
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    ap.add_argument('--schema', required=True)
    ap.add_argument('--source', help='base name of the generated files, e.g. xelfield')
    ap.add_argument('--prefix', help='record prefix, e.g. Xel')
    ap.add_argument('--coders', choices=('stream', 'struct'), default='stream')
    ap.add_argument('--out', help='directory that receives field/<source>*.{h,cc}')
    ap.add_argument('--stats', action='store_true', help='print member totals per type')
    args = ap.parse_args()
    try:
        records, packets, _, _ = parse_schema(args.schema)
        if args.prefix:
            for r in records:
                if not r.name.startswith(args.prefix):
                    raise SchemaError('%s:%d: record %s lacks the prefix %s' %
                                      (args.schema, r.line, r.name, args.prefix))
    except (SchemaError, OSError) as e:
        sys.stderr.write('gen_catalogue: error: %s\n' % e)
        return 1
    if args.stats:
        print_stats(records, packets)
        return 0
    if not (args.source and args.prefix and args.out):
        ap.error('--source, --prefix and --out are required to generate')
    directory = os.path.join(args.out, 'field')
    os.makedirs(directory, exist_ok=True)
    header, tables, coders = [], [], []
    emit_header(header, records, args.source, args.prefix, args.coders)
    emit_tables_source(tables, records, packets, args.source, args.prefix, args.coders)
    emit_coders_source(coders, records, args.source, args.coders)
    for lines in (tables, coders):
        lines += ['', '}  // namespace Field']
    write_if_changed(os.path.join(directory, args.source + '.h'), header)
    write_if_changed(os.path.join(directory, args.source + '.cc'), tables)
    write_if_changed(os.path.join(directory, args.source + '_coders.cc'), coders)
    return 0


if __name__ == '__main__':
    sys.exit(main())
