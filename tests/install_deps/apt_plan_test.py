#!/usr/bin/python3
"""install-deps' decisions on recorded apt answers: a live mirror cannot be made to break on demand.

The answers were recorded in a Debian 12 root whose i386 view lacked bookworm-security, as a mirror mid-sync
leaves it; versions are the mirror's of that day.
"""
import os
import sys
import unittest

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'scripts'))
import apt_plan  # noqa: E402

UPDATE_WITH_A_FOREIGN_INDEX_MID_SYNC = """\
Hit:1 http://deb.debian.org/debian bookworm InRelease
Get:2 http://deb.debian.org/debian-security bookworm-security InRelease [48.0 kB]
Get:4 http://deb.debian.org/debian bookworm/main i386 Packages [8682 kB]
Err:6 http://deb.debian.org/debian-security bookworm-security/main i386 Packages
  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 151.101.2.132 80]
  Hashes of expected file:
   - Filesize:376004 [weak]
  Release file created at: Mon, 07 Dec 2026 12:04:11 +0000
Fetched 9100 kB in 2s (4550 kB/s)
Reading package lists...
E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  \
File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 151.101.2.132 80]
   Hashes of expected file:
    - Filesize:376004 [weak]
E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  \
File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 151.101.2.132 80]
E: Some index files failed to download. They have been ignored, or old ones used instead.
"""

UPDATE_WITH_THE_RELEASES_OWN_INDEX_BROKEN = """\
E: Failed to fetch http://deb.debian.org/debian/dists/bookworm/main/binary-amd64/by-hash/SHA256/5e6f  Hash Sum mismatch
E: Some index files failed to download. They have been ignored, or old ones used instead.
"""

UPDATE_WITHOUT_A_MIRROR = """\
Err:1 http://deb.debian.org/debian bookworm InRelease
  Temporary failure resolving 'deb.debian.org'
W: Failed to fetch http://deb.debian.org/debian/dists/bookworm/InRelease  Temporary failure resolving 'deb.debian.org'
W: Some index files failed to download. They have been ignored, or old ones used instead.
"""

# apt-cache show zlib1g:amd64 zlib1g:i386 libssl3:amd64 libssl3:i386 libc6:amd64 libc6:i386 libwine:i386,
# trimmed to the fields the plan reads.
SHOW = """\
Package: zlib1g
Version: 1:1.2.13.dfsg-1+deb12u1
Architecture: amd64
Multi-Arch: same

Package: zlib1g
Version: 1:1.2.13.dfsg-1
Architecture: amd64
Multi-Arch: same

Package: zlib1g
Version: 1:1.2.13.dfsg-1
Architecture: i386
Multi-Arch: same

Package: libssl3
Version: 3.0.22-1~deb12u2
Architecture: amd64
Multi-Arch: same

Package: libssl3
Version: 3.0.20-1~deb12u2
Architecture: amd64
Multi-Arch: same

Package: libssl3
Version: 3.0.20-1~deb12u2
Architecture: i386
Multi-Arch: same

Package: libc6
Version: 2.36-9+deb12u14
Architecture: amd64
Multi-Arch: same

Package: libc6
Version: 2.36-9+deb12u14
Architecture: i386
Multi-Arch: same

Package: libwine
Version: 8.0~repack-4
Architecture: i386
Multi-Arch: same
"""

# apt-cache depends --recurse … wine32:i386 (abridged): the visited packages start their lines.
DEPENDS = """\
wine32:i386
  Depends: libc6:i386
  Depends: libwine:i386
  Recommends: <wine:i386>
    wine
libwine:i386
  Depends: zlib1g:i386
  Depends: libssl3:i386
<wine:i386>
libc6:i386
zlib1g:i386
libssl3:i386
"""


def installed(*rows):
    return apt_plan.parse_installed(''.join(f"{name} {arch} {version} ii \n" for name, arch, version in rows))


class FailedIndexes(unittest.TestCase):
    def test_each_failed_index_is_named_once_and_judged_by_its_suite(self):
        rows = [
            (UPDATE_WITH_A_FOREIGN_INDEX_MID_SYNC,
             [('bookworm-security', 'main i386', 'File has unexpected size (374820 != 376004). Mirror sync in progress?',
               False)]),
            (UPDATE_WITH_THE_RELEASES_OWN_INDEX_BROKEN, [('bookworm', 'main amd64', 'Hash Sum mismatch', True)]),
            (UPDATE_WITHOUT_A_MIRROR,
             [('bookworm', 'Release', "Temporary failure resolving 'deb.debian.org'", True)]),
            ('Hit:1 http://deb.debian.org/debian bookworm InRelease\nReading package lists...\n', []),
        ]
        for output, expected in rows:
            with self.subTest(expected=expected):
                found = apt_plan.failed_indexes(output)
                self.assertEqual([(f.suite, f.where, f.reason, f.essential) for f in found], expected)


class Alignment(unittest.TestCase):
    closure = apt_plan.parse_closure(DEPENDS, 'amd64')
    packages = apt_plan.parse_show(SHOW)

    def test_the_closure_is_the_visited_packages_without_virtual_ones(self):
        self.assertEqual(self.closure, {('wine32', 'i386'), ('libwine', 'i386'), ('libc6', 'i386'),
                                        ('zlib1g', 'i386'), ('libssl3', 'i386')})

    def test_pairs_that_disagree_are_pinned_to_the_newest_version_both_halves_are_offered(self):
        pins, refusals = apt_plan.alignment(self.closure, self.packages, installed(
            ('zlib1g', 'amd64', '1:1.2.13.dfsg-1'), ('libssl3', 'amd64', '3.0.20-1~deb12u2'),
            ('libc6', 'amd64', '2.36-9+deb12u14')))
        self.assertEqual(pins, {'zlib1g': '1:1.2.13.dfsg-1', 'libssl3': '3.0.20-1~deb12u2'})
        self.assertEqual(refusals, {})
        self.assertEqual(apt_plan.preferences({'zlib1g': '1:1.2.13.dfsg-1'}),
                         'Package: zlib1g\nPin: version 1:1.2.13.dfsg-1\nPin-Priority: 1001\n')

    def test_a_pair_only_a_downgrade_could_align_is_refused_in_one_sentence_when_apt_needs_it(self):
        pins, refusals = apt_plan.alignment(self.closure, self.packages, installed(
            ('zlib1g', 'amd64', '1:1.2.13.dfsg-1'), ('libssl3', 'amd64', '3.0.22-1~deb12u2')))
        self.assertEqual(pins, {'zlib1g': '1:1.2.13.dfsg-1'})
        sentence = ("install-deps: libssl3:amd64 is installed at 3.0.22-1~deb12u2, but the newest version the mirror "
                    "offers for both amd64 and i386 is 3.0.20-1~deb12u2, and install-deps downgrades nothing; try "
                    "again once the mirror has finished syncing.")
        self.assertEqual(refusals, {'libssl3': sentence})
        apt_failure = ("The following packages have unmet dependencies:\n"
                       " libwine:i386 : Depends: libssl3:i386 (>= 3.0.0) but it is not going to be installed\n")
        self.assertEqual(apt_plan.refusal_for(apt_failure, refusals), sentence)
        # An over-counted closure refuses pairs apt never needs: those must not stop the install.
        self.assertIsNone(apt_plan.refusal_for(" libwine:i386 : Depends: libssl3-dev:i386\n", refusals))

    def test_pairs_that_agree_or_have_one_half_are_left_alone(self):
        pins, refusals = apt_plan.alignment({('libc6', 'i386'), ('libwine', 'i386'), ('zlib1g', 'i386')},
                                            self.packages, installed(('libc6', 'amd64', '2.36-9+deb12u14')))
        self.assertEqual((pins, refusals), ({}, {}))


class DebianVersionOrder(unittest.TestCase):
    def test_versions_sort_as_dpkg_sorts_them(self):
        for older, newer in [('1:1.2.13.dfsg-1', '1:1.2.13.dfsg-1+deb12u1'), ('1.0~rc1', '1.0'),
                             ('2.5-4', '2.9-1~bpo12+1'), ('3.0.19-1~deb12u2', '3.0.22-1~deb12u2'),
                             ('7.88.1-10+deb12u5', '7.88.1-10+deb12u15'), ('9.9', '1:0.1'), ('1.0a', '1.0b')]:
            with self.subTest(older=older, newer=newer):
                self.assertLess(apt_plan.compare_versions(older, newer), 0)
                self.assertGreater(apt_plan.compare_versions(newer, older), 0)
        self.assertEqual(apt_plan.compare_versions('1.0', '1.0-0'), 0)


if __name__ == '__main__':
    unittest.main()
