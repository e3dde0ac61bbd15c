#!/usr/bin/python3
"""release_json.py built|installers|signed ...: the one writer of release.json.

  built --out FILE --exe EXE --source-dir DIR --version X.Y.Z --host H --port N
        --asset ARCH PATH SHA256 SIZE (per architecture) --tool NAME TEXT (compiler, mingw_headers, linker,
        windres, imagemagick, cmake) --build-type T --preset P --toolchain-file PATH
      After every build of the setup exe (cmake/ReleaseConfig.cmake): what the host must serve
      (scripts/release-check reads it), the exe as built, and what scripts/rebuild needs to give the same
      bytes again: the commit, whether the checkout had changes, the tools' versions, the preset, the
      toolchain file and the configure pins.
  installers FILE [X64_INSTALLER] [ARM64_INSTALLER]
      scripts/release: prints what the build pinned, and records and prints what the pinned installers'
      signatures say about their future (a warning only: an installer may be pinned unsigned on purpose).
  signed FILE EXE SIGNED(0|1) NO_TIMESTAMP(true|false)
      scripts/release, after signing: the digest and size of the exe as shipped, its signature and the
      signing tool.

Every write replaces the file by one rename of a whole file.
"""

import argparse
import hashlib
import json
import os
import subprocess
import sys

# signature_facts, imported below, is found beside this script: its bytecode must not go into the clone.
sys.dont_write_bytecode = True

# The facts a rebuild compares with this machine's before it builds; cmake/ReleaseConfig.cmake computes them.
TOOLS = ('compiler', 'mingw_headers', 'linker', 'windres', 'imagemagick', 'cmake')


def sha256_of(path):
    digest = hashlib.sha256()
    with open(path, 'rb') as source:
        for block in iter(lambda: source.read(1 << 20), b''):
            digest.update(block)
    return digest.hexdigest()


def load(path):
    with open(path, encoding='utf-8') as source:
        return json.load(source)


def write(path, release):
    with open(path + '.partial', 'w', encoding='utf-8') as out:
        json.dump(release, out, indent=2)
        out.write('\n')
    os.replace(path + '.partial', path)


def checkout(source_dir):
    """(commit, modified) of the checkout, read when the exe is built so that the file never names a commit
    older than the exe; ('unknown', None) outside a git checkout."""
    def git(*arguments):
        return subprocess.run(['git', '-C', source_dir, *arguments], stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, text=True, check=False)
    head = git('rev-parse', 'HEAD')
    if head.returncode != 0:
        return 'unknown', None
    changes = git('status', '--porcelain', '--untracked-files=no').stdout.strip()
    return head.stdout.strip(), bool(changes)


def built(options):
    commit, modified = checkout(options.source_dir)
    pins = [f'-DLUMIVANCE_DOWNLOAD_HOST={options.host}', f'-DLUMIVANCE_DOWNLOAD_PORT={options.port}']
    architectures = {}
    for arch, path, sha256, size in options.asset:
        architectures[arch] = {'path': path, 'size': int(size), 'sha256': sha256}
        pins += [f'-DLUMIVANCE_{arch.upper()}_SHA256={sha256}', f'-DLUMIVANCE_{arch.upper()}_SIZE={size}']
    exe_sha256 = sha256_of(options.exe)
    tools = dict(options.tool)
    missing = [tool for tool in TOOLS if tool not in tools]
    if missing:
        raise SystemExit(f'release_json.py: no --tool for {", ".join(missing)}')
    release = {
        'version': options.version,
        'host': options.host,
        'port': int(options.port),
        'architectures': architectures,
        # As the linker wrote it: a rebuild of this commit with these pins gives these bytes, signed or not.
        'setup': {'file': os.path.basename(options.exe), 'architecture': options.architecture,
                  'size': os.path.getsize(options.exe),
                  'sha256': exe_sha256, 'unsigned_sha256': exe_sha256, 'signed': False, 'signature': None},
        'rebuild': {'commit': commit, 'modified': modified, **{tool: tools[tool] for tool in TOOLS},
                    'build_type': options.build_type, 'preset': options.preset or None,
                    'toolchain_file': options.toolchain_file or None, 'configure': pins},
    }
    write(options.out, release)


def installers(path, files):
    import signature_facts  # only here and in signed(): the build's own step needs no PE or CMS parser
    release = load(path)
    print(f"\nBuilt {os.path.dirname(path)}/{release['setup']['file']} ({release['setup']['architecture']}, "
          f"preset {release['rebuild']['preset']})")
    print(f"  download host    https://{release['host']}:{release['port']}")
    for arch, file in zip(('x64', 'arm64'), files):
        asset = release['architectures'][arch]
        print(f"  {arch:<5} installer  {asset['size']} bytes  sha256 {asset['sha256']}")
        if not file:
            print('                   its signature not seen here: pinned by digest')
            continue
        try:
            facts = asset['signature'] = signature_facts.facts(file)
        except signature_facts.SignatureUnreadable as error:
            print(f'release: cannot read the {arch} installer\'s signature: {error}', file=sys.stderr)
            return 1
        print(f'                   {signature_facts.describe(facts)}')
        reason = signature_facts.expiry_reason(facts, signature_facts.DEFAULT_HORIZON_DAYS,
                                               signature_facts.INSTALLER_CONSEQUENCE)
        if facts is None:
            reason = 'not signed: setup refuses an installer without a valid signature'
        if reason:
            print(f'  warning: {arch} installer {reason}', file=sys.stderr)
    write(path, release)
    return 0


def osslsigncode_version():
    version = subprocess.run(['osslsigncode', '--version'], stdout=subprocess.PIPE, text=True, check=False).stdout
    package = subprocess.run(['dpkg-query', '-W', '-f=${Version}', 'osslsigncode'], stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, text=True, check=False).stdout
    return ((version.splitlines()[0].removesuffix(', using:') if version else 'unknown') +
            (f' (Debian osslsigncode {package})' if package else ''))


def signed(path, exe, signing, no_timestamp):
    import signature_facts
    release = load(path)
    setup = release['setup']
    setup['sha256'] = sha256_of(exe)
    setup['size'] = os.path.getsize(exe)
    if signing:
        try:
            setup['signature'] = signature_facts.facts(exe)
        except signature_facts.SignatureUnreadable as error:
            print(f'release: the signed setup\'s signature cannot be read back: {error}', file=sys.stderr)
            return 1
        setup['signed'] = setup['signature'] is not None
        setup['no_timestamp'] = no_timestamp
        release['rebuild']['osslsigncode'] = osslsigncode_version()
    write(path, release)
    print(f"  setup exe        {setup['size']} bytes  sha256 {setup['sha256']}")
    print(f"  as built         sha256 {setup['unsigned_sha256']}  (before signing: what a rebuild gives)")
    print(f"  signature        {signature_facts.describe(setup['signature'])}")
    reason = signature_facts.expiry_reason(setup['signature'], signature_facts.DEFAULT_HORIZON_DAYS,
                                           signature_facts.SETUP_CONSEQUENCE)
    if reason:
        print(f'  warning: setup {reason}', file=sys.stderr)
    return 0


def main(argv):
    parser = argparse.ArgumentParser(prog='release_json.py')
    commands = parser.add_subparsers(dest='command', required=True)
    build = commands.add_parser('built')
    for option in ('out', 'exe', 'source-dir', 'version', 'host', 'port', 'build-type', 'preset', 'toolchain-file',
                   'architecture'):
        build.add_argument(f'--{option}', required=True)
    build.add_argument('--asset', nargs=4, action='append', required=True, metavar=('ARCH', 'PATH', 'SHA256', 'SIZE'))
    build.add_argument('--tool', nargs=2, action='append', required=True, metavar=('NAME', 'TEXT'))
    pinned = commands.add_parser('installers')
    pinned.add_argument('file')
    pinned.add_argument('installers', nargs='*')
    after = commands.add_parser('signed')
    for argument in ('file', 'exe', 'signing', 'no_timestamp'):
        after.add_argument(argument)
    options = parser.parse_args(argv)
    if options.command == 'built':
        built(options)
        return 0
    if options.command == 'installers':
        return installers(options.file, (options.installers + ['', ''])[:2])
    return signed(options.file, options.exe, options.signing == '1', options.no_timestamp == 'true')


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
