#!/usr/bin/python3
"""scripts/rebuild as someone who is not the publisher runs it: a release made by scripts/release in one
clone, rebuilt from a second clone of the same commit in another folder, later and in another time zone.

    rebuild_test.py PKI_DIR   (under tools/tsa-server, which gives LUMIVANCE_TSA_URL)

The commit is this tree as it is now (its tracked and new files committed in the first clone), so that
what is tested is the scripts as edited. Each row runs the second clone's scripts/rebuild and checks its
exit code and what it says, and that it left nothing in its temporary folder (TMPDIR) nor in the clone.
A unittest: the clones and the release are made once, each row is a subTest, and it exits non-zero naming
every row that went wrong.
"""

import json
import os
import signal
import subprocess
import sys
import tempfile
import time
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PATCH_CODE_BYTE = os.path.join(ROOT, 'tools', 'patch-code-byte')
SIGN_EXE = os.path.join(ROOT, 'tools', 'sign-exe')
# A fixed identity and date, so that the commit made of this tree is a commit like any other.
GIT_ENV = {'GIT_AUTHOR_NAME': 'rebuild test', 'GIT_AUTHOR_EMAIL': 'test@localhost',
           'GIT_COMMITTER_NAME': 'rebuild test', 'GIT_COMMITTER_EMAIL': 'test@localhost',
           'GIT_AUTHOR_DATE': '2026-01-01T00:00:00Z', 'GIT_COMMITTER_DATE': '2026-01-01T00:00:00Z'}


def git(*arguments, cwd):
    return subprocess.run(['git', *arguments], cwd=cwd, check=True, stdout=subprocess.PIPE, text=True,
                          env=dict(os.environ, **GIT_ENV)).stdout


def first_clone(folder):
    """A clone of this repository whose HEAD is this tree as it is, edits included."""
    git('clone', '--quiet', '--no-hardlinks', ROOT, folder, cwd=ROOT)
    files = git('ls-files', '-z', '--cached', '--others', '--exclude-standard', cwd=ROOT).split('\0')
    present = [name for name in files if name and os.path.lexists(os.path.join(ROOT, name))]
    tar = subprocess.run(['tar', '-C', ROOT, '--null', '-T', '-', '-cf', '-'], input='\0'.join(present).encode(),
                         stdout=subprocess.PIPE, check=True).stdout
    subprocess.run(['tar', '-C', folder, '-xf', '-'], input=tar, check=True)
    for name in git('ls-files', '-z', '--deleted', cwd=ROOT).split('\0'):
        if name:
            git('rm', '--quiet', '--cached', '--ignore-unmatch', name, cwd=folder)
    git('add', '--all', cwd=folder)
    if git('status', '--porcelain', cwd=folder).strip():
        git('commit', '--quiet', '--no-verify', '-m', 'this tree, as the rebuild test found it', cwd=folder)
    return git('rev-parse', 'HEAD', cwd=folder).strip()


def make_release(clone, pki):
    out = os.path.join(clone, 'build', 'release')
    result = subprocess.run(
        [os.path.join(clone, 'scripts', 'release'), '--host', 'localhost', '--port', '8443',
         '--x64-sha256', 'a' * 64, '--arm64-sha256', 'b' * 64, '--out', out,
         '--sign-cert', f'{pki}/codesign.crt', '--sign-key', f'{pki}/codesign.key',
         '--timestamp', os.environ['LUMIVANCE_TSA_URL']],
        stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, check=False)
    if result.returncode != 0:
        raise unittest.TestCase.failureException(f'scripts/release did not make the release:\n{result.stdout}')
    json_path, exe = os.path.join(out, 'release.json'), os.path.join(out, 'LumivanceWebSetup.exe')
    # What a user is told to run, exactly.
    line = f'  rebuild          scripts/rebuild {json_path} {exe}'
    if line not in result.stdout.splitlines():
        raise unittest.TestCase.failureException(
            f'scripts/release does not print the rebuild line {line!r}:\n{result.stdout}')
    return json_path, exe


def variant(release_path, folder, name, change):
    with open(release_path, encoding='utf-8') as source:
        release = json.load(source)
    change(release)
    path = os.path.join(folder, f'{name}.json')
    with open(path, 'w', encoding='utf-8') as out:
        json.dump(release, out)
    return path


def patched_and_resigned(exe, pki, folder):
    """The signed exe with one byte of .text changed, then signed again with the same key: a valid
    signature over other code, which only a rebuild can catch."""
    patched, unsigned, resigned = (os.path.join(folder, name) for name in ('patched.exe', 'bare.exe', 'resigned.exe'))
    subprocess.run([PATCH_CODE_BYTE, exe, patched], check=True)
    subprocess.run(['osslsigncode', 'remove-signature', '-in', patched, '-out', unsigned], check=True,
                   stdout=subprocess.DEVNULL)
    subprocess.run([SIGN_EXE, pki, unsigned, resigned], check=True)
    return resigned


def leftovers(clone, temp):
    found = [f'{temp}/{name}' for name in os.listdir(temp)]
    status = git('status', '--porcelain', '--ignored', cwd=clone).strip()
    if status:
        found.append(f'in the clone: {status}')
    return found


def run_rebuild(clone, temp, arguments, interrupt_after=None):
    """scripts/rebuild in the second clone, at another time zone: (exit code, output, seconds)."""
    env = dict(os.environ, TMPDIR=temp, TZ='UTC-14')
    started = time.monotonic()
    process = subprocess.Popen([os.path.join(clone, 'scripts', 'rebuild'), *arguments], cwd=clone, env=env,
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if interrupt_after is None:
        output = process.communicate()[0]
    else:
        # Stopped once its build has begun: cmake and the compilers are running in its folder.
        lines = []
        for line in process.stdout:
            lines.append(line)
            if interrupt_after in line:
                time.sleep(3)
                process.send_signal(signal.SIGTERM)
                break
        output = ''.join(lines) + process.communicate()[0]
    return process.returncode, output, time.monotonic() - started


class Rebuild(unittest.TestCase):
    pki = None   # the test PKI's folder, from the command line
    longMessage = False   # a row's problems say it all; their list once more would only repeat them

    @classmethod
    def setUpClass(cls):
        # A plain machine's environment: a setting that keeps Python from writing bytecode would hide a script
        # that leaves some in the clone.
        os.environ.pop('PYTHONDONTWRITEBYTECODE', None)
        work = tempfile.TemporaryDirectory(prefix='lumivance-rebuild-test-')
        cls.addClassCleanup(work.cleanup)
        work = work.name
        one = os.path.join(work, 'one')
        commit = first_clone(one)
        release, signed = make_release(one, cls.pki)
        with open(release, encoding='utf-8') as source:
            recorded = json.load(source)
        if recorded['rebuild']['modified'] is not False or recorded['rebuild']['commit'] != commit:
            raise cls.failureException(f'the release does not name the clean commit {commit}: {recorded["rebuild"]}\n'
                                       f'{git("status", "--porcelain", cwd=one)}')
        unsigned_sha256 = recorded['setup']['unsigned_sha256']
        # Another folder of another depth, so that a path compiled into the exe would show.
        cls.two = os.path.join(work, 'elsewhere', 'at', 'another', 'depth', 'two')
        git('clone', '--quiet', '--no-hardlinks', one, cls.two, cwd=work)
        cls.temp = os.path.join(work, 'tmp')
        os.mkdir(cls.temp)
        compiler_changed = variant(release, work, 'compiler', lambda r: r['rebuild'].update(
            compiler=r['rebuild']['compiler'] + ' (another build)'))
        modified = variant(release, work, 'modified', lambda r: r['rebuild'].update(modified=True))
        elsewhere = variant(release, work, 'elsewhere', lambda r: r['rebuild'].update(commit='0' * 40))
        # Each row: its name, the arguments, the exit code and the fragments the output must hold, and
        # the line after which it is interrupted (SIGTERM), if it is.
        cls.rows = [
            ('the release and its signed exe, from the second clone', [release, signed], 0,
             [f'reproduced: LumivanceWebSetup.exe sha256 {unsigned_sha256} is commit {commit} rebuilt byte for byte',
              f'and {signed} is it signed', 'every byte its signature covers is the rebuilt exe\'s'], None),
            ('one byte of .text changed and signed again with the same key',
             [release, patched_and_resigned(signed, cls.pki, work)], 1,
             ['differs: ', 'is not the rebuilt exe signed: they first differ in section .text'], None),
            ('the recorded compiler is another', [compiler_changed], 2,
             ['rebuild: cannot judge: this machine\'s toolchain is not the one the release was built with',
              '* compiler ', ' (another build)', 'mingw_headers', '(the same)'], None),
            ('a release built from a modified checkout', [modified, signed], 2,
             ['rebuild: cannot judge: this release was built from a checkout with uncommitted changes '
              '("modified": true), so there is no source to rebuild it from'], None),
            ('a commit this clone does not have', [elsewhere], 2,
             [f'rebuild: cannot judge: the commit {"0" * 40} is not in this clone'], None),
            ('interrupted while it builds', [release, signed], 128 + signal.SIGTERM, [], '  toolchain '),
            # The root is made in TMPDIR, so an empty TMPDIR afterwards shows it went too.
            ('the release and its signed exe, in a clean Debian root', ['--clean-root', release, signed], 0,
             ['== check-fresh: scripts/install-deps --release: ',
              f'reproduced: LumivanceWebSetup.exe sha256 {unsigned_sha256} is commit {commit} rebuilt byte for byte',
              'and /root/in/LumivanceWebSetup.exe is it signed'], None),
        ]

    def test_rebuilds_the_release_and_names_what_differs_or_why_it_cannot_judge(self):
        for name, arguments, code, fragments, interrupt in self.rows:
            with self.subTest(name):
                returncode, output, seconds = run_rebuild(self.two, self.temp, arguments, interrupt)
                print(f'{name}: exit code {returncode} after {seconds:.0f} s', file=sys.stderr, flush=True)
                problems = [] if returncode == code else [f'exit code {returncode}, expected {code}']
                problems += [f'no "{fragment}" in what it said' for fragment in fragments if fragment not in output]
                problems += [f'left behind: {item}' for item in leftovers(self.two, self.temp)]
                if problems:
                    problems.append('what it said:\n' + output.strip())
                self.assertFalse(problems, '\n'.join(problems))


if __name__ == '__main__':
    if len(sys.argv) != 2 or 'LUMIVANCE_TSA_URL' not in os.environ:
        print('usage: tools/tsa-server --pki PKI_DIR -- rebuild_test.py PKI_DIR', file=sys.stderr)
        sys.exit(2)
    Rebuild.pki = os.path.realpath(sys.argv[1])
    unittest.main(argv=sys.argv[:1], verbosity=2)
