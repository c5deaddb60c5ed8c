#!/usr/bin/python3
"""Compares the cards of two vCard files by content, as python3-vobject reads them.

    vcard_compare.py [--by-uid] ORIGINAL WRITTEN [WRITTEN ...]

ORIGINAL is a file as some program wrote it (any version); WRITTEN is what kindex's writer made
of it (3.0 or 4.0), each WRITTEN compared with it. vobject splits both into content lines (unfolding, QUOTED-PRINTABLE soft
breaks, parameters, groups); this script decodes the values and compares the cards one by one,
each as a multiset of properties (group, name, parameters with TYPE as a set, decoded value).
Left out: VERSION and PRODID, and N, FN and UID in WRITTEN where ORIGINAL had none (the written
version requires them). Each version's own form of one thing compares equal: TYPE=pref and
PREF=1; ENCODING=b with TYPE=JPEG and a data: URI; 2.1 bare types and TYPE; VALUE=uri on PHOTO
and kin; GEO as "lat;lon" and "geo:lat,lon"; Apple's X-ADDRESSBOOKSERVER-KIND/-MEMBER, X-GENDER
and X-ANNIVERSARY and the 4.0 names. ENCODING and CHARSET compare by the text they give.
Values are split at ';' only: an escaped comma and a list separator look alike here (2.1 knows
no comma escapes to tell them apart by); VcardTest pins how each is read.

With --by-uid, WRITTEN is a book's export, whose cards come in the book's order: each card of
ORIGINAL that has a UID is compared with the written card of that UID, and the others, in
order, with the written cards left.

Each WRITTEN must also parse as a whole with vobject.readComponents. Exit status 0 when the
files say the same; 1 with one line per difference, naming the written file, otherwise.
"""
import base64
import codecs
import collections
import io
import quopri
import re
import sys

import vobject
import vobject.base

ALIASES = {'X-ADDRESSBOOKSERVER-KIND': 'KIND', 'X-ADDRESSBOOKSERVER-MEMBER': 'MEMBER',
           'X-GENDER': 'GENDER', 'X-ANNIVERSARY': 'ANNIVERSARY'}
MEDIA = {'PHOTO', 'LOGO', 'SOUND', 'KEY'}
FORMATS = {'PGP': 'application/pgp-keys', 'X509': 'application/pkix-cert'}
ENCODINGS = {'QUOTED-PRINTABLE', 'BASE64', 'B', '7BIT', '8BIT'}


def file_text(path):
    """The file as text, and whether it is a legacy 8-bit file (then each character stands for
    one byte, to be decoded value by value)."""
    data = open(path, 'rb').read()
    if data.startswith(codecs.BOM_UTF8):
        return data[3:].decode('utf-8'), False
    if data.startswith(codecs.BOM_UTF16_LE) or data.startswith(codecs.BOM_UTF16_BE):
        return data.decode('utf-16'), False
    try:
        return data.decode('utf-8'), False
    except UnicodeDecodeError:
        return data.decode('latin-1'), True


def indent_base64_continuations(text):
    """2.1 writers put base64 data on unindented lines ending at a blank line; vobject takes
    only indented lines as continuations."""
    out, in_data = [], False
    for line in text.split('\n'):
        if in_data and line.strip() and re.fullmatch(r'[A-Za-z0-9+/=\s]+', line):
            line = ' ' + line
        else:
            in_data = bool(re.match(r'[^:]*;(ENCODING=)?(BASE64|B)[;:]', line, re.I))
        out.append(line)
    return '\n'.join(out)


def content_lines(path):
    text, legacy = file_text(path)
    text = text.replace('\r\r\n', '\n').replace('\r\n', '\n').replace('\r', '\n')
    text = indent_base64_continuations(text)
    for line, number in vobject.base.getLogicalLines(io.StringIO(text), True):
        if line.strip():
            yield line, number, legacy


def cards(path):
    """[(line, version, [(name, params, value, group, embedded)])] in file order."""
    found, card, agent = [], None, None
    for line, number, legacy in content_lines(path):
        name, params, value, group = vobject.base.parseLine(line)
        name = name.upper()
        word = value.strip().upper()
        if agent is not None:
            agent['lines'].append(line)
            agent['depth'] += {'BEGIN': 1, 'END': -1}.get(name, 0) if word == 'VCARD' else 0
            if agent['depth'] == 0:
                card['properties'].append(('AGENT', agent['params'], '\n'.join(agent['lines']), agent['group'],
                                           True))
                agent = None
        elif name == 'BEGIN' and word == 'VCARD' and card is None:
            card = {'number': len(found) + 1, 'version': '3.0', 'legacy': legacy, 'properties': []}
        elif name == 'BEGIN' and word == 'VCARD':
            last = card['properties'].pop()
            agent = {'params': last[1], 'group': last[3], 'lines': [line], 'depth': 1}
        elif name == 'END' and word == 'VCARD':
            found.append(card)
            card = None
        elif name == 'VERSION':
            card['version'] = value.strip()
        else:
            card['properties'].append((name, params, value, group, False))
    return found


def unescape(text, version):
    """Splits at unescaped ';' and undoes the escapes of each component."""
    components, current, i = [], '', 0
    while i < len(text):
        c = text[i]
        if c == '\\' and i + 1 < len(text):
            n = text[i + 1]
            if n in 'nN':
                current += '\n'
            elif version == '2.1' and n not in ';,\\':
                current += '\\' + n  # 2.1 knows no other escapes: a backslash of its own
            else:
                current += n
            i += 2
            continue
        if c == ';':
            components.append(current)
            current = ''
        else:
            current += c
        i += 1
    return tuple(components + [current])


def caret_decode(value):
    return re.sub(r"\^([n^'])", lambda m: {'n': '\n', '^': '^', "'": '"'}[m.group(1)], value)


def to_text(raw, charset, legacy, encoded):
    if not (legacy or encoded):
        return raw if isinstance(raw, str) else raw.decode('utf-8')
    data = raw.encode('latin-1' if legacy else 'utf-8') if isinstance(raw, str) else raw
    if charset:
        return data.decode(charset)
    try:
        return data.decode('utf-8')
    except UnicodeDecodeError:
        try:
            return data.decode('cp1252')
        except UnicodeDecodeError:
            return data.decode('latin-1')


def agent_card(text):
    """A card inside AGENT, written inside the outer card (2.1) or as its escaped value."""
    return ('card', tuple(line.strip() for line in text.split('\n') if line.strip()))


def media_type(name, fmt):
    if '/' in fmt:
        return fmt.lower()
    family = {'SOUND': 'audio/', 'KEY': 'application/'}.get(name, 'image/')
    return FORMATS.get(fmt.upper(), family + fmt.lower())


def normalised(prop, version, legacy):
    name, params, value, group, embedded = prop
    name = ALIASES.get(name, name)
    types, others, encodings, charset = [], collections.defaultdict(list), set(), None
    for param in params:
        pname, values = param[0].upper(), param[1:]
        if not values:  # a 2.1 bare word
            if pname in ENCODINGS:
                encodings.add(pname)
            else:
                types.append(param[0])
            continue
        if version != '2.1':
            values = [caret_decode(v) for v in values]
        if pname == 'TYPE':
            types += [t for v in values for t in v.split(',') if t]
        elif pname == 'ENCODING':
            encodings.update(v.upper() for v in values)
        elif pname == 'CHARSET':
            charset = values[0]
        else:
            others[pname] += values
    types = [t.upper() for t in types]
    if 'PREF' in types:
        types = [t for t in types if t != 'PREF']
        others.setdefault('PREF', ['1'])
    if version == '2.1' and [v.upper() for v in others.get('VALUE', [])] == ['URL']:
        others['VALUE'] = ['uri']
    if name in MEDIA and [v.upper() for v in others.get('VALUE', [])] == ['URI']:
        del others['VALUE']

    if embedded:
        decoded = agent_card(to_text(value, charset, legacy, False))
    elif encodings & {'BASE64', 'B'}:
        data = base64.b64decode(''.join(value.split()))
        decoded = None
        if name not in MEDIA:  # text when it is UTF-8 or in its CHARSET, else binary
            try:
                text = data.decode(charset or 'utf-8')
                if '\0' not in text:
                    decoded = unescape(text.replace('\r\n', '\n'), version)
            except (UnicodeDecodeError, LookupError):
                pass
        if decoded is None:
            decoded = ('binary', media_type(name, types.pop(0)) if types else '', data)
    else:
        raw = value
        if 'QUOTED-PRINTABLE' in encodings:
            raw = quopri.decodestring(value.encode('latin-1' if legacy else 'utf-8'))
        text = to_text(raw, charset, legacy, 'QUOTED-PRINTABLE' in encodings)
        text = text.replace('\r\n', '\n').replace('\r', '\n')
        match = re.fullmatch(r'data:([^;,]*)(?:;[^;,]*)*;base64,(.*)', text, re.I | re.S)
        geo = re.fullmatch(r'geo:([^,;]+),([^,;]+)', text, re.I) or re.fullmatch(r'([^,;]+);([^,;]+)', text)
        if name in MEDIA and match:
            decoded = ('binary', match.group(1).lower(), base64.b64decode(match.group(2)))
        elif name == 'GEO' and geo:
            decoded = ('geo', geo.group(1), geo.group(2))
        elif name == 'AGENT' and text.upper().startswith('BEGIN:VCARD'):
            decoded = agent_card(unescape(text, version)[0] if version != '2.1' else text)
        else:
            decoded = unescape(text, version)
    params = tuple(sorted((k, tuple(v)) for k, v in others.items()))
    return (group or '', name, params, frozenset(types), decoded)


def describe(prop):
    group, name, params, types, value = prop
    text = (group + '.' if group else '') + name
    if types:
        text += ';TYPE=' + ','.join(sorted(types))
    for k, v in params:
        text += ';%s=%s' % (k, ','.join(v))
    if value and value[0] == 'binary':
        value = ('binary', value[1], '%d bytes' % len(value[2]))
    return text + ': ' + repr(value)


def uid_of(card):
    for name, params, value, group, embedded in card['properties']:
        if name == 'UID':
            return value.strip()
    return None


def paired_by_uid(original, written):
    """The written cards in the order of the original ones they stand for."""
    by_uid = {uid_of(card): card for card in written if uid_of(card)}
    matched = [by_uid.get(uid_of(card)) if uid_of(card) else None for card in original]
    used = {id(card) for card in matched if card is not None}
    rest = iter([card for card in written if id(card) not in used])
    return [card if card is not None else next(rest, None) for card in matched] + list(rest)


def differences(original_path, written_path, by_uid=False):
    with open(written_path, encoding='utf-8', newline='') as f:
        parsed = list(vobject.readComponents(f.read()))
    original, written = cards(original_path), cards(written_path)
    if by_uid:
        written = [card for card in paired_by_uid(original, written) if card is not None]
    problems = []
    if len(parsed) != len(written):
        problems.append('vobject read %d cards where %d were written' % (len(parsed), len(written)))
    if len(original) != len(written):
        problems.append('%d cards in the original, %d written' % (len(original), len(written)))
    for a, b in zip(original, written):
        where = 'card %d' % a['number']
        skip = {'VERSION', 'PRODID'}
        ours = [normalised(p, a['version'], a['legacy']) for p in a['properties'] if p[0] not in skip]
        names = {p[1] for p in ours}
        skip |= {n for n in ('N', 'FN', 'UID') if n not in names}
        theirs = [normalised(p, b['version'], b['legacy']) for p in b['properties'] if p[0] not in skip]
        left, right = collections.Counter(ours), collections.Counter(theirs)
        for prop in left - right:
            problems.append('%s: lost or changed: %s' % (where, describe(prop)))
        for prop in right - left:
            problems.append('%s: written instead: %s' % (where, describe(prop)))
    return problems


def main():
    args = sys.argv[1:]
    by_uid = args[:1] == ['--by-uid']
    if by_uid:
        args = args[1:]
    failed = False
    for written_path in args[1:]:
        for problem in differences(args[0], written_path, by_uid):
            print('%s: %s' % (written_path, problem))
            failed = True
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
