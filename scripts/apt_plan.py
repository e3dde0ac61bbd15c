#!/usr/bin/python3
"""What install-deps decides from apt's own answers, kept apart from apt so it can be tested on recorded ones.

  apt_plan.py failed-indexes            reads `apt-get update` output on stdin; prints one line per index the
                                        mirror did not serve; exit 3 when the install cannot do without one
  apt_plan.py pins REFUSALS PACKAGE...  asks apt-cache and dpkg about PACKAGE's dependency closure; prints apt
                                        preferences that give each Multi-Arch: same pair one version, and keeps
                                        in REFUSALS the pairs that only a downgrade could align
  apt_plan.py explain REFUSALS          reads a failed `apt-get install` on stdin; exit 4 with one sentence when
                                        it names a pair in REFUSALS, else exit 1

A mirror in the middle of a sync can serve an index that does not match its signed Release file. apt keeps
going without it, but then a `Multi-Arch: same` library may be offered at one version for amd64 and another
for i386, and both halves must be the same version: apt gives up on the whole install.
"""

import json
import re
import subprocess
import sys
from dataclasses import dataclass, field

NO_INDEX_EXIT = 3
DOWNGRADE_EXIT = 4
PIN_PRIORITY = 1001  # above 1000 so the pinned version wins over a newer candidate; see refusal()


# --- Debian version order (dpkg's verrevcmp), so no python3-apt is needed before it is installed ---

def _order(text, index):
    if index >= len(text) or text[index].isdigit():
        return 0
    char = text[index]
    if char.isascii() and char.isalpha():
        return ord(char)
    return -1 if char == '~' else ord(char) + 256


def _compare_fragment(a, b):
    i = j = 0
    while i < len(a) or j < len(b):
        while (i < len(a) and not a[i].isdigit()) or (j < len(b) and not b[j].isdigit()):
            difference = _order(a, i) - _order(b, j)
            if difference:
                return difference
            i, j = i + 1, j + 1
        start_i, start_j = i, j
        while i < len(a) and a[i].isdigit():
            i += 1
        while j < len(b) and b[j].isdigit():
            j += 1
        difference = int(a[start_i:i] or 0) - int(b[start_j:j] or 0)
        if difference:
            return difference
    return 0


def _split(version):
    epoch, _, rest = version.partition(':') if ':' in version else ('0', '', version)
    upstream, _, revision = rest.rpartition('-') if '-' in rest else (rest, '', '0')
    return int(epoch or 0), upstream, revision


def compare_versions(a, b):
    """<0, 0 or >0 as Debian version a sorts before, with or after b."""
    epoch_a, upstream_a, revision_a = _split(a)
    epoch_b, upstream_b, revision_b = _split(b)
    if epoch_a != epoch_b:
        return epoch_a - epoch_b
    return _compare_fragment(upstream_a, upstream_b) or _compare_fragment(revision_a, revision_b)


def newest(versions):
    best = None
    for version in versions:
        if best is None or compare_versions(version, best) > 0:
            best = version
    return best


# --- The indexes a sync left behind ---

@dataclass(frozen=True)
class FailedIndex:
    suite: str
    where: str  # "main i386" for a package index, "Release" when the suite's signed file itself failed
    reason: str

    @property
    def essential(self):
        # The release's own suite holds every package; -updates and -security hold only newer builds of some,
        # so the install can go on without them (and aligns the versions that then disagree).
        return '-' not in self.suite


_FAILED = re.compile(r'^[EW]: Failed to fetch \S*/dists/(?P<suite>[^/\s]+)/(?P<path>\S*)\s+(?P<reason>.*)$')
_INDEX = re.compile(r'^(?P<component>[^/]+)/binary-(?P<arch>[^/]+)/')


def failed_indexes(update_output):
    """The indexes `apt-get update` says it could not fetch, once each."""
    found = []
    for line in update_output.splitlines():
        failure = _FAILED.match(line.strip())
        if not failure:
            continue
        index = _INDEX.match(failure['path'])
        where = f"{index['component']} {index['arch']}" if index else 'Release'
        reason = re.sub(r'\s*\[IP: [^]]*\]$', '', failure['reason']).strip()
        entry = FailedIndex(failure['suite'], where, reason)
        if all((f.suite, f.where) != (entry.suite, entry.where) for f in found):
            found.append(entry)
    return found


# --- Aligning Multi-Arch: same pairs ---

@dataclass
class Package:
    multi_arch_same: bool = False
    offered: dict = field(default_factory=dict)  # architecture -> set of versions the indexes offer


def parse_show(show_output):
    """`apt-cache show NAME:ARCH...` stanzas -> {name: Package}."""
    packages = {}
    for stanza in re.split(r'\n\s*\n', show_output):
        fields = dict(re.findall(r'^([A-Za-z-]+): ?(.*)$', stanza, re.MULTILINE))
        if not {'Package', 'Version', 'Architecture'} <= fields.keys():
            continue
        package = packages.setdefault(fields['Package'], Package())
        package.multi_arch_same |= fields.get('Multi-Arch') == 'same'
        package.offered.setdefault(fields['Architecture'], set()).add(fields['Version'])
    return packages


def parse_closure(depends_output, native):
    """`apt-cache depends --recurse` -> {(name, arch)}; its unindented lines are the packages it visited."""
    closure = set()
    for line in depends_output.splitlines():
        if not line or line[0].isspace() or line.startswith('<'):
            continue
        name, _, arch = line.strip().partition(':')
        closure.add((name, arch or native))
    return closure


def parse_installed(dpkg_output):
    """`dpkg-query -W -f '${Package} ${Architecture} ${Version} ${db:Status-Abbrev}\\n'` -> {(name, arch): version}."""
    installed = {}
    for line in dpkg_output.splitlines():
        parts = line.split()
        if len(parts) >= 4 and parts[3].startswith('ii'):
            installed[(parts[0], parts[1])] = parts[2]
    return installed


def alignment(closure, packages, installed):
    """For each Multi-Arch: same library whose architectures would be offered different versions: {name: the
    newest version every architecture offers} as pins, and {name: sentence} where there is no such version, or
    only one older than a version already installed. The closure over-counts (it follows every alternative), so
    a refusal counts only if apt then names that library (refusal_for)."""
    pins, refusals = {}, {}
    for name in sorted({name for name, _ in closure}):
        package = packages.get(name)
        if package is None or not package.multi_arch_same:
            continue
        present = {arch for arch in package.offered if (name, arch) in closure}
        present |= {arch for (other, arch) in installed if other == name}
        if len(present) < 2:
            continue
        candidates = {arch: newest(package.offered.get(arch, ())) for arch in present}
        if len(set(candidates.values())) == 1 and None not in candidates.values():
            continue
        target = newest(set.intersection(*(package.offered.get(arch, set()) for arch in present)))
        behind = [arch for arch in sorted(present)
                  if installed.get((name, arch)) and (target is None or
                                                      compare_versions(installed[(name, arch)], target) > 0)]
        if target is None or behind:
            arch = behind[0] if behind else sorted(present)[0]
            refusals[name] = refusal(name, arch, installed.get((name, arch)), target, present)
        else:
            pins[name] = target
    return pins, refusals


def refusal(name, arch, have, target, present):
    others = ' and '.join(sorted(present - {arch}))
    if target is None:
        return (f"install-deps: the mirror offers no version of {name} for both {arch} and {others}, which must "
                f"be the same version; try again once the mirror has finished syncing.")
    return (f"install-deps: {name}:{arch} is installed at {have}, but the newest version the mirror offers for "
            f"both {arch} and {others} is {target}, and install-deps downgrades nothing; try again once the "
            f"mirror has finished syncing.")


def refusal_for(apt_output, refusals):
    """The sentence for the first refused library that apt's failed install names, or None."""
    for name, sentence in sorted(refusals.items()):
        if re.search(rf'(^|[\s(]){re.escape(name)}(:[a-z0-9]+)?([\s)]|$)', apt_output, re.MULTILINE):
            return sentence
    return None


def preferences(pins):
    stanzas = []
    for name, version in sorted(pins.items()):
        stanzas.append(f"Package: {name}\nPin: version {version}\nPin-Priority: {PIN_PRIORITY}\n")
    return '\n'.join(stanzas)


# --- Asking apt ---

def _run(*command):
    return subprocess.run(command, check=False, capture_output=True, text=True).stdout


def ask_apt(requested):
    native = _run('dpkg', '--print-architecture').strip()
    closure = parse_closure(_run('apt-cache', 'depends', '--recurse', '--no-recommends', '--no-suggests',
                                 '--no-conflicts', '--no-breaks', '--no-replaces', '--no-enhances', *requested),
                            native)
    foreign = _run('dpkg', '--print-foreign-architectures').split()
    names = sorted({name for name, _ in closure})
    packages = parse_show(_run('apt-cache', 'show', *(f'{name}:{arch}' for name in names
                                                      for arch in [native, *foreign])))
    installed = parse_installed(_run('dpkg-query', '-W', '-f',
                                     '${Package} ${Architecture} ${Version} ${db:Status-Abbrev}\n'))
    return closure, packages, installed


def main(argv):
    command, arguments = (argv[1], argv[2:]) if len(argv) >= 2 else ('', [])
    if command == 'failed-indexes' and not arguments:
        failed = failed_indexes(sys.stdin.read())
        for index in failed:
            print(f"{index.suite} {index.where}: {index.reason}")
        return NO_INDEX_EXIT if any(index.essential for index in failed) else 0
    if command == 'pins' and len(arguments) >= 2:
        pins, refusals = alignment(*ask_apt(arguments[1:]))
        with open(arguments[0], 'w', encoding='utf-8') as kept:
            json.dump(refusals, kept)
        print(preferences(pins), end='')
        return 0
    if command == 'explain' and len(arguments) == 1:
        with open(arguments[0], encoding='utf-8') as kept:
            sentence = refusal_for(sys.stdin.read(), json.load(kept))
        if sentence is None:
            return 1
        print(sentence, file=sys.stderr)
        return DOWNGRADE_EXIT
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == '__main__':
    sys.exit(main(sys.argv))
