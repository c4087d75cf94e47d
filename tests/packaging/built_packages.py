#!/usr/bin/env python3
"""The package preset's packages and zip, as they leave the build:
- one package per packed component, each at the project's version; libcorvanta-dev
  depends on exactly its libcorvanta1, the VLC module on VLC's plug-in ABI;
- dependencies came from dpkg-shlibdeps (libc6 is named), and a package whose files
  link libcorvanta.so.N depends on libcorvantaN: also for a program built against the
  tree's library, through the private folder CPack hands dpkg-shlibdeps;
- the shared library carries its shlibs line and ldconfig trigger, is 0644 and, like
  every packaged program, stripped;
- lintian finds no error;
- the zip, named with the version, holds the windows preset's DLL (one export, system
  imports only), its note on installing and the licence.
  built_packages.py PACKAGE-TREE SOURCE-TREE OBJDUMP CC
"""
import glob, os, re, shutil, subprocess, sys, tempfile, zipfile

tree, source, objdump, cc = sys.argv[1:5]
packages = os.path.join(tree, 'packages')
failures = []
fail = failures.append
run = lambda *args, **kw: subprocess.run(args, capture_output=True, text=True, **kw)

if not os.path.exists(os.path.join(tree, 'CPackConfig.cmake')):
    print(f'built_packages: skipped: {tree} is not configured (cmake --preset package, or tools/package.sh)')
    sys.exit(0)
cpack = open(os.path.join(tree, 'CPackConfig.cmake')).read()
setting = lambda name: (re.search(rf'set\({name} "([^"]*)"\)', cpack) or [None, None])[1]
version = f'{setting("CPACK_PACKAGE_VERSION")}-{setting("CPACK_DEBIAN_PACKAGE_RELEASE")}'
names = [setting(f'CPACK_DEBIAN_{c.upper()}_PACKAGE_NAME') for c in setting('CPACK_COMPONENTS_ALL').split(';')]
debs = {name: glob.glob(os.path.join(packages, f'{name}_{version}_*.deb')) for name in names}
if not all(debs.values()):
    print(f'built_packages: skipped: no {", ".join(n for n in names if not debs[n])} {version} in {packages} '
          '(cmake --build --preset package, or tools/package.sh)')
    sys.exit(0)

work = tempfile.mkdtemp()
library = next(name for name in names if re.fullmatch(r'libcorvanta\d+', name))
for name, (deb,) in debs.items():
    root = os.path.join(work, name)
    run('dpkg-deb', '-x', deb, root, check=True)
    run('dpkg-deb', '-e', deb, os.path.join(root, 'DEBIAN'), check=True)
    fields = dict(re.findall(r'^(\S+): (.*)$', run('dpkg-deb', '-f', deb).stdout, re.M))
    depends = fields.get('Depends', '')
    if name == 'libcorvanta-dev' and f'{library} (= {version})' not in depends.split(', '):
        fail(f'libcorvanta-dev depends on "{depends}", not on {library} (= {version})')
    if name == 'vlc-plugin-corvanta' and 'vlc-plugin-abi-3-0-0f' not in depends:
        fail(f'vlc-plugin-corvanta does not depend on vlc-plugin-abi-3-0-0f: "{depends}"')
    elf = [os.path.join(d, f) for d, _, fs in os.walk(root) if 'DEBIAN' not in d for f in fs
           if not os.path.islink(os.path.join(d, f)) and open(os.path.join(d, f), 'rb').read(4) == b'\x7fELF']
    if elf and not depends.startswith('libc6') and ' libc6 ' not in f' {depends} ':
        fail(f'{name} holds programs or libraries but depends on "{depends}": did dpkg-shlibdeps run?')
    for path in elf:
        shown = os.path.relpath(path, root)
        needed = re.findall(r'NEEDED\s+(libcorvanta\.so\.\d+)', run('objdump', '-p', path).stdout)
        for soname in needed:
            if not re.search(rf'\blibcorvanta{soname.rsplit(".", 1)[1]} \(', depends):
                fail(f'{name}: {shown} links {soname}, but the package depends on "{depends}"')
        if '.symtab' in run('objdump', '-h', path).stdout:
            fail(f'{name}: /{shown} is not stripped')
        mode = os.stat(path).st_mode & 0o777
        if '.so' in os.path.basename(path) and mode != 0o644:
            fail(f'{name}: /{shown} is installed {oct(mode)}, not 0644')
    if name == library:
        control = os.path.join(root, 'DEBIAN')
        shlibs = open(os.path.join(control, 'shlibs')).read().strip() if os.path.exists(os.path.join(control, 'shlibs')) else ''
        if shlibs != f'libcorvanta {library[11:]} {library} (>= {version})':
            fail(f'{library}: the shlibs file says "{shlibs}"')
        if 'activate-noawait ldconfig' not in open(os.path.join(control, 'triggers')).read():
            fail(f'{library} does not activate ldconfig')

# A program built against the tree's library gets its dependency the way CPack asks
# dpkg-shlibdeps for it (a folder of its own, --ignore-missing-info).
program_root = os.path.join(work, 'linker', 'usr/bin')
os.makedirs(os.path.join(work, 'linker', 'debian'))
open(os.path.join(work, 'linker', 'debian', 'control'), 'w').close()
os.makedirs(program_root)
with open(os.path.join(work, 'p.c'), 'w') as f:
    f.write('#include <corvanta/corvanta.h>\nint main(void) { return corvanta_interface() == 0; }\n')
run(cc, os.path.join(work, 'p.c'), '-I' + os.path.join(source, 'include'), '-L' + os.path.join(tree, 'lib'),
    '-lcorvanta', '-o', os.path.join(program_root, 'p'), check=True)
private = setting('CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS') or ''
shlibdeps = run('dpkg-shlibdeps', *['-l' + d for d in private.split(';') if d], '--ignore-missing-info', '-O',
                'usr/bin/p', cwd=os.path.join(work, 'linker'))
if f'{library} (>= {version})' not in shlibdeps.stdout:
    fail(f'a program linking libcorvanta gets "{shlibdeps.stdout.strip()}" from dpkg-shlibdeps '
         f'(private folders "{private}"), not {library} (>= {version}) {shlibdeps.stderr.strip()[:200]}')

if shutil.which('lintian'):
    errors = [line for line in run('lintian', *(d[0] for d in debs.values())).stdout.splitlines() if line.startswith('E:')]
    if errors:
        fail('lintian: ' + '; '.join(errors[:10]))
else:
    print('built_packages: note: no lintian here (tools/install-deps.sh packaging)')

zip_path = os.path.join(packages, f'corvanta-{setting("CPACK_PACKAGE_VERSION")}-windows.zip')
if os.path.exists(zip_path):
    folder = os.path.basename(zip_path)[:-4]
    with zipfile.ZipFile(zip_path) as z:
        z.extractall(os.path.join(work, 'zip'))
        held = sorted(n for n in z.namelist() if not n.endswith('/'))
    if held != sorted(f'{folder}/{n}' for n in ('LICENSE.txt', 'README.txt', 'vis_corvanta.dll')):
        fail(f'{zip_path} holds {held}')
    else:
        exports = run('cmake', f'-DOBJDUMP={objdump}', f'-DDLL={work}/zip/{folder}/vis_corvanta.dll',
                      '-P', os.path.join(source, 'tests/host/check_exports.cmake'))
        if exports.returncode:
            fail(f'the zip\'s DLL: {exports.stderr.strip()[:300]}')
else:
    fail(f'no {zip_path} (cmake --build --preset package builds it after the windows preset)')

shutil.rmtree(work)
for message in failures:
    print('built_packages: ' + message, file=sys.stderr)
if failures:
    sys.exit(1)
print(f'built_packages: {", ".join(names)} {version} and the Windows zip hold together')
