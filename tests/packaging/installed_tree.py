#!/usr/bin/env python3
"""What `cmake --install` puts under a prefix, as the packages take it:
- each program's manual page documents the options its --help prints, and only those,
  and the same exit statuses; the pages render without a warning from man;
- every installed file belongs to exactly one component that CPack packs (a file of
  another component would be in no package), and each package's documentation folder
  has its copyright file and changelog;
- the desktop entry validates, runs an installed program, finds its icon (256 x 256 in
  the hicolor theme) and offers itself for the types the desktop gives WAV, FLAC, Ogg
  and MP3 files.
  installed_tree.py BUILD-TREE CMAKE WORK PROGRAM...
"""
import gzip, os, re, shutil, struct, subprocess, sys
import xml.etree.ElementTree as ET

build, cmake, work = sys.argv[1:4]
programs = sys.argv[4:]
failures = []


def fail(message):
    failures.append(message)


def page_sections(text):
    sections, name = {}, None
    for line in text.splitlines():
        if line.startswith('.SH '):
            name = line[4:].strip('"')
            sections[name] = []
        elif name:
            sections[name].append(line)
    return sections


def tagged(lines):  # the tag line after each .TP, its roff escapes undone
    return [lines[i + 1].replace('\\-', '-') for i, line in enumerate(lines[:-1]) if line == '.TP']


# The components CPack packs, and what each installs.
cpack = open(os.path.join(build, 'CPackConfig.cmake')).read()
components = re.search(r'set\(CPACK_COMPONENTS_ALL "([^"]*)"\)', cpack).group(1).split(';')
package_of = {c: re.search(rf'set\(CPACK_DEBIAN_{c.upper()}_PACKAGE_NAME "([^"]+)"\)', cpack).group(1)
              for c in components}


def install(prefix, *component):
    shutil.rmtree(prefix, ignore_errors=True)
    args = ['--component', component[0]] if component else []
    subprocess.run([cmake, '--install', build, '--prefix', prefix] + args, check=True, stdout=subprocess.DEVNULL)
    return {os.path.relpath(os.path.join(d, f), prefix) for d, _, files in os.walk(prefix) for f in files}


root = os.path.join(work, 'all')
everything = install(root)

# The installed pages against --help.
for program in programs:
    name = os.path.basename(program)
    page_path = os.path.join(root, 'share/man/man1', name + '.1.gz')
    if not os.path.exists(page_path):
        fail(f'{name} has no manual page')
        continue
    help_text = subprocess.run([program, '--help'], capture_output=True, text=True, check=True).stdout
    in_help = set(re.findall(r'^ {1,4}(--[a-z][a-z0-9-]*)', help_text, re.M))
    sections = page_sections(gzip.open(page_path, 'rt').read())
    in_page = {re.findall(r'--[a-z][a-z0-9-]*', tag)[0] for tag in tagged(sections.get('OPTIONS', []))
               if re.search(r'--[a-z]', tag)}
    for option in sorted(in_help - in_page):
        fail(f'{name} --help prints {option}, its manual page does not document it')
    for option in sorted(in_page - in_help):
        fail(f'the manual page of {name} documents {option}, which its --help does not print')
    statuses = re.search(r'^Exit status: (.*)$', help_text, re.M)
    help_statuses = set(re.findall(r'(?:^|, )(\d+) ', statuses.group(1))) if statuses else set()
    page_statuses = {tag.split()[-1] for tag in tagged(sections.get('EXIT STATUS', []))}
    if not help_statuses or help_statuses != page_statuses:
        fail(f'{name}: --help gives exit statuses {sorted(help_statuses)}, the page {sorted(page_statuses)}')
    if shutil.which('man'):
        rendered = subprocess.run(['man', '--warnings', '-E', 'UTF-8', '-l', '-Tutf8', '-Z', page_path],
                                  capture_output=True, text=True,
                                  env=dict(os.environ, LC_ALL='C.UTF-8', MANWIDTH='80', MANROFFSEQ=''))
        if rendered.returncode or rendered.stderr.strip():
            fail(f'man warns about {page_path}: {rendered.stderr.strip()[:300]}')
    else:
        print('installed_tree: note: no man here, the pages are not rendered')

# Every file in one packed component.
owner = {}
for component in components:
    for path in install(os.path.join(work, component), component):
        if path in owner:
            fail(f'{path} is installed by both {owner[path]} and {component}')
        owner[path] = component
for path in sorted(everything - owner.keys()):
    fail(f'{path} is installed by no component that CPack packs ({", ".join(components)})')
for component, package in package_of.items():
    for name in ('copyright', 'changelog.Debian.gz'):
        if f'share/doc/{package}/{name}' not in owner or owner[f'share/doc/{package}/{name}'] != component:
            fail(f'the {component} component has no share/doc/{package}/{name}')

# The desktop entry.
desktop = [p for p in everything if p.startswith('share/applications/') and p.endswith('.desktop')]
for path in desktop:
    entry = dict(line.split('=', 1) for line in open(os.path.join(root, path)) if '=' in line)
    entry = {key: value.strip() for key, value in entry.items()}
    if shutil.which('desktop-file-validate'):
        checked = subprocess.run(['desktop-file-validate', os.path.join(root, path)], capture_output=True, text=True)
        if checked.returncode or checked.stdout.strip():
            fail(f'desktop-file-validate: {checked.stdout.strip()[:300]}')
    else:
        print('installed_tree: note: no desktop-file-validate here (tools/install-deps.sh packaging)')
    if f'bin/{entry["Exec"].split()[0]}' not in everything or '%f' not in entry['Exec'].split():
        fail(f'{path}: Exec={entry["Exec"]} is not an installed program taking a file (%f)')
    icon = os.path.join(root, 'share/icons/hicolor/256x256/apps', entry['Icon'] + '.png')
    if not os.path.exists(icon) or struct.unpack('>II', open(icon, 'rb').read()[16:24]) != (256, 256):
        fail(f'{path}: Icon={entry["Icon"]} has no 256 x 256 PNG in the hicolor theme')
    offered = set(filter(None, entry['MimeType'].split(';')))
    mime_xml = '/usr/share/mime/packages/freedesktop.org.xml'
    if os.path.exists(mime_xml):
        ns = '{http://www.freedesktop.org/standards/shared-mime-info}'
        types = ET.parse(mime_xml).getroot().findall(ns + 'mime-type')
        known = {t.get('type') for t in types} | {a.get('type') for t in types for a in t.findall(ns + 'alias')}
        for unknown in sorted(offered - known):
            fail(f'{path}: MimeType {unknown} is no type the desktop knows')
        for ext in ('wav', 'flac', 'ogg', 'mp3'):
            canonical = [t.get('type') for t in types if any(g.get('pattern') == '*.' + ext for g in t.findall(ns + 'glob'))]
            if not set(canonical) & offered:
                fail(f'{path}: a .{ext} file is {" or ".join(canonical)}, which MimeType does not list')
    else:
        print('installed_tree: note: no shared-mime-info here, the MIME types are not checked')
if 'bin/corvanta-play' in everything and not desktop:
    fail('corvanta-play is installed without a desktop entry')

for message in failures:
    print('installed_tree: ' + message, file=sys.stderr)
if failures:
    sys.exit(1)
print(f'installed_tree: {len(programs)} pages match --help; {len(everything)} files in {len(components)} '
      f'components; {len(desktop)} desktop entry checked')
