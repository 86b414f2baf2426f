#!/usr/bin/python3
# The benchmark (bench/README.md): the tools against their peers and floors.
#
#   bench/bench.py BUILD_DIR        make bench builds the programs and runs this
#   bench/bench.py drop LIST OUT    the cold mode's hyperfine --prepare
#
# The commands are listed once, in bench/commands.tsv.  hyperfine times
# them; this script makes the corpora, rotates the commands from round to
# round, takes the peak memory from GNU time (wait4), counts system calls
# and bytes read (strace) and instructions (callgrind), prints the tables
# and the goals, and draws the chart (gnuplot).  Settings: BENCH_* variables.
import datetime, json, os, re, shlex, shutil, statistics, subprocess, sys, time

HERE = os.path.dirname(os.path.abspath(__file__))
DEVNULL = subprocess.DEVNULL


def cached_share(names, cwd='.'):
    """Per cent of the files' pages in the page cache (util-linux fincore)."""
    res = tot = 0
    for k in range(0, len(names), 500):
        out = subprocess.run(['fincore', '-b', '-n', '-r', '-o', 'RES,SIZE', '--', *names[k:k + 500]],
                             cwd=cwd, capture_output=True, text=True).stdout
        for line in out.split('\n'):
            if line.strip():
                r, s = line.split()
                res, tot = res + int(r), tot + int(s)
    return min(100.0, 100.0 * res / tot) if tot else 0.0


def drop(listfile, outfile):
    """Drops every page of the listed files from the page cache: no privilege
    needed, no other file touched (dirty pages stay, so fdatasync first)."""
    names = open(listfile).read().split()
    for name in set(names):
        fd = os.open(name, os.O_RDONLY)
        os.fdatasync(fd)
        os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)
        os.close(fd)
    with open(outfile, 'a') as f:
        f.write('%.2f\n' % cached_share(sorted(set(names))))


if len(sys.argv) == 4 and sys.argv[1] == 'drop':
    drop(sys.argv[2], sys.argv[3])
    sys.exit(0)
if len(sys.argv) != 2:
    sys.exit('usage: bench/bench.py BUILD_DIR')

# --- settings -------------------------------------------------------------------
SMOKE = os.environ.get('BENCH_SMOKE') == '1'
QUICK = os.environ.get('BENCH_QUICK') == '1'


def setting(name, full, quick=None, smoke=None):
    v = os.environ.get('BENCH_' + name)
    if v:
        return type(full)(v)
    return smoke if SMOKE and smoke is not None else quick if QUICK and quick is not None else full


count = setting('COUNT', 1000, 100, 6)
rounds = {'warm': setting('ROUNDS', 5, 3, 1), 'cold': setting('COLD_ROUNDS', 3, 2, 1),
          'each': setting('EACH_ROUNDS', 3, 2, 1)}
each_count = int(os.environ.get('BENCH_EACH_COUNT') or count)  # one process per photograph over as many
each_slow = setting('EACH_SLOW', 100, 20, 2)
size_mb = setting('SIZE_MB', 3.4, 3.4, 0.2)
scale = setting('SCALE', 10.0, 10.0, 4.0)
camera_scale = setting('CAMERA_SCALE', 1.0, 1.0, 0.02)
heic_size = setting('HEIC_SIZE', '4032x3024', None, '640x480')
audio = setting('AUDIO_SECONDS', 10, 10, 1)
modes = setting('MODES', 'warm each cold').split()
peers = setting('PEERS', 'exiftool exiv2 jhead').split()
use_callgrind = setting('CALLGRIND', '1') == '1'
only = setting('ONLY', '')
settle_s = setting('SETTLE', 360, 360, 0)
install = setting('INSTALL', '1' if os.getuid() == 0 else '0') == '1'
distinct_counts = {'standard': count, 'large': setting('LARGE_COUNT', 200, 20, 3),
                   'camera': setting('CAMERA_COUNT', 250, 25, 6), 'heic': setting('HEIC_COUNT', 200, 20, 4),
                   'movie': setting('MOVIE_COUNT', 100, 10, 4), 'png': setting('PNG_COUNT', 200, 20, 4)}
count_runs = (setting('COUNT_FIRST', 10, 10, 2), setting('COUNT_PHOTOS', 60, 30, 5))
baseline = os.environ.get('BENCH_BASELINE', '')
recipe, camera_recipe, heic_recipe = 3, 3, 1  # bumped when a corpus's recipe changes
camera_sizes = [1, 6.5, 12, 17.5, 23, 28.5, 34, 40]  # MB, before BENCH_CAMERA_SCALE
clip = 44 + int(audio) * 8000

build = os.path.abspath(sys.argv[1])
bench = build + '/bench'
results = build + '/bench-results'
# The smoke run makes its corpora from scratch in a folder of its own, removed at the end.
corpus_root = build + '/bench-smoke-corpus' if SMOKE else \
    os.path.abspath(os.environ.get('BENCH_CORPUS') or build + '/corpus')
broken = []  # what broke the benchmark itself: exit status 1 at the end
warned = False


def say(*a):
    print(*a, flush=True)


def die(msg):
    sys.exit('bench: ' + msg)


def shown(path):
    """A path as printed: relative to the build folder, or to BENCH_CORPUS."""
    for root, label in ((build, '.'), (corpus_root, '$BENCH_CORPUS')):
        if path == root or path.startswith(root + '/'):
            return os.path.normpath(os.path.join(label, os.path.relpath(path, root)))
    return os.path.basename(path)


def human(b):
    return '%.1f GB' % (b / 1e9) if b >= 1e9 else '%.2f MB' % (b / 1e6) if b < 1e7 else '%.1f MB' % (b / 1e6)


def sh(argv, **kw):
    return subprocess.run(argv, check=True, **kw)


# --- what it needs ----------------------------------------------------------------
prereqs = ['bash', os.path.join(HERE, '..', '.ci', 'prereqs')]
subprocess.run(prereqs + (['bench'] if install else ['--check', 'bench']))
for p in ('hyperfine', 'cjpeg', 'jpegtran', 'fincore'):
    shutil.which(p) or die(p + ' is missing: bash .ci/prereqs bench')
os.path.exists('/usr/bin/time') or die('GNU time is missing: bash .ci/prereqs bench')
for p in ('chronel', 'segdump', 'glossel', 'sonlift'):
    os.access(f'{build}/{p}', os.X_OK) or die(f'{p} is missing from the build folder: make bench')
for p in ('benchpicture', 'benchcorpus', 'benchfloor', 'benchfloorlibs', 'benchstart', 'benchstartlibs'):
    os.access(f'{bench}/{p}', os.X_OK) or die(f'bench/{p} is missing: configure with -DORVANE_BENCH=ON')
if baseline:
    baseline = os.path.abspath(baseline)
    for p in ('chronel', 'segdump', 'glossel', 'sonlift'):
        os.access(f'{baseline}/{p}', os.X_OK) or die(f'BENCH_BASELINE has no {p}')
use_strace = bool(shutil.which('strace'))
use_callgrind = use_callgrind and bool(shutil.which('valgrind'))
use_chart = bool(shutil.which('gnuplot'))
use_heic = bool(shutil.which('heif-enc') and shutil.which('exiftool'))
for what, ok in (('strace', use_strace), ('valgrind', use_callgrind), ('gnuplot', use_chart),
                 ('heif-enc and exiftool', use_heic)):
    ok or say(f'bench: {what} missing: left out (bash .ci/prereqs bench)')
if SMOKE and not (use_strace and use_callgrind and use_chart and use_heic):
    die('the smoke run needs every package of the bench step: bash .ci/prereqs bench')

# --- the command table ------------------------------------------------------------
TABLE = []
for n, line in enumerate(open(os.path.join(HERE, 'commands.tsv')), 1):
    if line.startswith('#') or not line.strip():
        continue
    f = line.rstrip('\n').split('\t')
    if len(f) != 9 or f[1] not in ('ours', 'peer', 'floor') or \
            f[6] not in ('all', 'writes', 'renames', 'whole-each', 'few-each'):
        die(f'bench/commands.tsv line {n}: not 9 valid tab-separated fields')
    row = dict(zip(('name', 'kind', 'job', 'out', 'where', 'corpora', 'files', 'label', 'command'), f))
    row['where'] = row['where'].split()
    program = row['command'].split()[0]
    if row['kind'] == 'peer' and (program not in peers or not shutil.which(program)):
        continue
    TABLE.append(row)
    if row['kind'] == 'ours' and baseline:
        TABLE.append(dict(row, name=row['name'] + '-baseline', label=row['label'] + ' (baseline)',
                          command=row['command'].replace('{tools}', baseline)))


def argv_of(row):
    cmd = row['command'].replace('{tools}', build).replace('{bench}', bench).replace('{clip}', str(clip))
    return shlex.split(cmd)


def runs_on(row, corpus):
    c = row['corpora']
    return c == 'all' or c == corpus or (c == 'jpeg' and corpus in ('standard', 'large', 'camera'))


# --- the corpora ------------------------------------------------------------------
mark = corpus_root + '/.deleted-at'


def remove(path):
    """Deletes a tree, noting when: see settle()."""
    if os.path.exists(path):
        shutil.rmtree(path)
        open(mark, 'w').write(str(time.time()))


def settle():
    # ext4 without a journal passes over inodes deleted in the last minutes
    # one by one when it creates files: sonlift (a file per photograph) is
    # several times slower for a while after many deletions.
    if os.path.exists(mark):
        left = float(open(mark).read()) + settle_s - time.time()
        if left > 0:
            say(f'waiting {left:.0f} s: many files were deleted here lately, and creating files is slow '
                'for some minutes after that on ext4 without a journal (BENCH_SETTLE=0 skips this)')
            time.sleep(left)


def encode(w, h, out, quality, grain=None, sample=None):
    """benchpicture's scene, encoded by cjpeg."""
    pic = subprocess.Popen([bench + '/benchpicture', str(w), str(h)] + ([str(grain)] if grain is not None else []),
                           stdout=subprocess.PIPE)
    with open(out, 'wb') as o:
        sh(['cjpeg', '-quality', str(quality)] + (['-sample', sample] if sample else []), stdin=pic.stdout, stdout=o)
    pic.wait()


def dims(pixels):
    w = int((pixels * 4 / 3) ** 0.5 / 16 + 0.5) * 16
    return w, w * 3 // 4 // 16 * 16


def corpus_args(d, n_have, n, camera=False):
    streams = sorted(f for f in os.listdir(d) if f.startswith('stream'))
    thumbs = sorted(f for f in os.listdir(d) if f.startswith('thumb'))
    args = [bench + '/benchcorpus'] + (['--camera'] if camera else [])
    for s in streams:
        args += ['--stream', f'{d}/{s}']
    for t in thumbs:
        args += ['--thumb', f'{d}/{t}']
    return args + ['--out', d + '/photos', '--first', str(n_have + 1), '--count', str(n - n_have),
                   '--audio-seconds', str(audio)]


def photos_in(d):
    return sorted(f for f in os.listdir(d) if re.fullmatch(r'p\d+\.(jpg|heic|mov|mp4|png)', f))


def fresh(name, stamp, n):
    """The corpus's folder and how many photographs it has, after removing a
    corpus made by another recipe."""
    d = f'{corpus_root}/{name}'
    if os.path.exists(f'{d}/stamp') and open(f'{d}/stamp').read() == stamp:
        return d, len(photos_in(d + '/photos')) if os.path.isdir(d + '/photos') else 0
    remove(d)
    os.makedirs(d + '/photos')
    return d, -1


def make_standard(name, target, n):
    # A real encoder makes the image stream: cjpeg compresses benchpicture's
    # scene 4:2:2 at quality 92, at the pixel count that makes the photograph
    # `target` bytes (found by trying: about 13 Mpx for 3.4 MB).
    d, have = fresh(name, f'recipe={recipe} target={target} audio={audio}', n)
    if have < 0:
        px = target / 0.26
        for _ in range(4):
            w, h = dims(px)
            say(f'{name} corpus: encoding a {w}x{h} image stream (cjpeg)')
            encode(w, h, d + '/stream.jpg', 92, sample='2x1')
            encode(160, 120, d + '/thumb.jpg', 75, grain=0)
            os.makedirs(d + '/tune', exist_ok=True)
            sh(corpus_args(d, 0, 1)[:-6] + ['--out', d + '/tune', '--count', '1', '--audio-seconds', str(audio)])
            size = os.path.getsize(d + '/tune/p0000001.jpg')
            shutil.rmtree(d + '/tune')
            if abs(size - target) < 0.02 * target:
                break
            px *= target / size
        open(d + '/stamp', 'w').write(f'recipe={recipe} target={target} audio={audio}')
        have = 0
    if have < n:
        say(f'{name} corpus: writing photographs {have + 1} to {n} in {shown(d)}')
        sh(corpus_args(d, have, n))
    return d


def make_camera(n):
    # One stream of about 40 MB (times BENCH_CAMERA_SCALE) cut losslessly by
    # jpegtran to eight sizes, and four thumbnails; benchcorpus --camera picks
    # one of each per photograph by a hash of its number (shuffled sizes).
    sizes = [s * camera_scale for s in camera_sizes]
    stamp = f'recipe={camera_recipe} sizes={" ".join("%g" % s for s in sizes)} audio={audio}'
    d, have = fresh('camera', stamp, n)
    if have < 0:
        most = sizes[-1] * 1e6
        w, h = dims(most / 0.245)
        say(f'camera corpus: encoding a {w}x{h} image stream (cjpeg), cut to {stamp.split("=")[2][:-6]} MB (jpegtran)')
        encode(w, h, d + '/full.jpg', 92, sample='2x1')
        for k, mb in enumerate(sizes, 1):
            f = (mb * 1e6 / most) ** 0.5
            with open(f'{d}/stream-{k}.jpg', 'wb') as o:
                sh(['jpegtran', '-copy', 'none', '-crop', f'{int(w * f / 16) * 16}x{int(h * f / 8) * 8}+0+0',
                    d + '/full.jpg'], stdout=o)
        os.remove(d + '/full.jpg')
        for k, (tw, th, q) in enumerate(((320, 240, 70), (320, 240, 90), (480, 320, 85), (640, 480, 76)), 1):
            encode(tw, th, f'{d}/thumb-{k}.jpg', q, grain=0)
        open(d + '/stamp', 'w').write(stamp)
        have = 0
    if have < n:
        say(f'camera corpus: writing photographs {have + 1} to {n} in {shown(d)}')
        sh(corpus_args(d, have, n, camera=True))
    return d


def make_heic(n):
    # heif-enc encodes the scene once; exiftool writes each photograph's own
    # EXIF (capture time, its offset, make and model) into a copy, in one run.
    d, have = fresh('heic', f'recipe={heic_recipe} size={heic_size}', n)
    if have < 0:
        w, h = heic_size.split('x')
        say(f'heic corpus: encoding a {w}x{h} picture (heif-enc)')
        encode(w, h, d + '/picture.jpg', 95)
        sh(['heif-enc', '-q', '60', '-o', d + '/picture.heic', d + '/picture.jpg'], stdout=DEVNULL)
        open(d + '/stamp', 'w').write(f'recipe={heic_recipe} size={heic_size}')
        have = 0
    if have < n:
        say(f'heic corpus: writing photographs {have + 1} to {n} in {shown(d)} (exiftool)')
        args = []
        for i in range(have + 1, n + 1):
            t = datetime.datetime(2004, 1, 5, 10) + datetime.timedelta(days=37 * i, seconds=3607 * i)
            args += [f'-DateTimeOriginal={t:%Y:%m:%d %H:%M:%S}', f'-OffsetTimeOriginal={"+01:00" if i % 2 else "-05:00"}',
                     '-Make=Orvane', '-Model=Bench HEIC', '-o', f'{d}/photos/p{i:07d}.heic', d + '/picture.heic',
                     '-execute']
        open(d + '/exif.args', 'w').write('\n'.join(args) + '\n')
        sh(['exiftool', '-q', '-q', '-@', d + '/exif.args'], stdout=DEVNULL)
    return d


def make_generated(name, option, n):
    # Phone movies (moov first and last) or PNG screenshots, written by benchcorpus.
    d, have = fresh(name, f'recipe=1 {option}', n)
    if have < 0:
        open(d + '/stamp', 'w').write(f'recipe=1 {option}')
        have = 0
    if have < n:
        say(f'{name} corpus: writing files {have + 1} to {n} in {shown(d)}')
        sh([bench + '/benchcorpus', option, '--out', d + '/photos', '--first', str(have + 1), '--count', str(n - have)])
    return d


# --- running commands ---------------------------------------------------------------
spent = results + '/spent'
spent_count = 0


def take_wavs(files, cwd):
    """Moves the .wav files written beside the photographs aside, to be deleted
    only after all timing (see settle); returns how many there were."""
    global spent_count
    n = 0
    for f in files:
        try:
            os.rename(f'{cwd}/{f}.wav', f'{spent}/{spent_count}.wav')
            n, spent_count = n + 1, spent_count + 1
        except FileNotFoundError:
            pass
    return n


def take_back_filed(cwd):
    """Puts the photographs that a filing command moved under filed/ back into
    the corpus folder under their own names (the commands keep each name:
    chronel -n filed/%Y/%m/%f); returns how many there were."""
    n = 0
    for root, _, names in os.walk(f'{cwd}/filed'):
        for f in names:
            os.rename(os.path.join(root, f), f'{cwd}/{f}')
            n += 1
    return n


def check_run(c, base, each):
    """One untimed run (it fills the page cache): peak memory (GNU time, from
    wait4, in a small process of its own), exit status and output."""
    t0 = time.monotonic()
    with open(base + '.out', 'wb') as o, open(base + '.err', 'wb') as e:
        subprocess.run(['/usr/bin/time', '-f', '%M %x', '-o', base + '.time'] + c['run'],
                       stdin=DEVNULL, stdout=o, stderr=e, cwd=c['cwd'])
    wall = time.monotonic() - t0
    text = open(base + '.time').read()
    rss, code = text.split('\n')[-2].split()
    c['rss'], c['out_lines'] = int(rss), open(base + '.out', 'rb').read().count(b'\n')
    c['err_lines'] = open(base + '.err', 'rb').read().count(b'\n')
    signal = re.search(r'terminated by signal (\d+)', text)
    c['status'] = ('killed by signal ' + signal.group(1)) if signal else \
        'ok' if code == '0' else ('a run killed by a signal' if each and code == '125' else 'exit status ' + code)
    c['wavs'] = take_wavs(c['files'], c['cwd']) if c['files_kind'] == 'writes' else 0
    if c['files_kind'] == 'renames':
        take_back_filed(c['cwd'])
    return wall


def run_set(cmds, mode, out):
    """Times the commands: a check run each, then rounds in rotating order, each
    command run by hyperfine `reps` times a round; results as a list of dicts."""
    os.makedirs(out)
    for k, c in enumerate(cmds):
        c['list'] = f'{out}/{k + 1}.list'
        open(c['list'], 'w').write('\n'.join(c['files']) + '\n')
        c['run'] = (['xargs', '-d', '\\n', '-n', '1', '-a', c['list']] + c['argv']) if mode == 'each' \
            else c['argv'] + c['files']
        wall = check_run(c, f'{out}/{k + 1}', mode == 'each')
        # A command over in a few milliseconds is at the mercy of every other
        # process: it runs up to ten times a round, so its median rests on more runs.
        c['reps'] = 1 if mode != 'warm' or c['files_kind'] in ('writes', 'renames') else \
            min(10, int(0.1 / max(wall, 1e-4)) + 1)
        c['times'], c['cpu'] = [], []
    log = open(out + '/log', 'w')
    for r in range(rounds[mode]):
        for i in range(len(cmds)):
            k = (i + r) % len(cmds)
            c = cmds[k]
            js = f'{out}/{k + 1}.json'
            hf = ['hyperfine', '-N', '-i', '--style', 'none', '--runs', str(c['reps']), '--export-json', js]
            if mode == 'cold':
                hf += ['--prepare', shlex.join([sys.executable, os.path.abspath(__file__), 'drop', c['list'],
                                                f'{out}/{k + 1}.cached'])]
            if os.path.exists(js):
                os.remove(js)
            subprocess.run(hf + [shlex.join(c['run'])], cwd=c['cwd'], stdout=log, stderr=log)
            if c['files_kind'] == 'writes':
                take_wavs(c['files'], c['cwd'])
            if c['files_kind'] == 'renames':
                take_back_filed(c['cwd'])
            if os.path.exists(js):
                got = json.load(open(js))['results'][0]
                c['times'] += got['times']
                c['cpu'] += [got['user'] + got['system']] * len(got['times'])
            print(f'round {r + 1}: {c["label"]}: {c["times"][-1:]}', file=log, flush=True)
    res = []
    for k, c in enumerate(cmds):
        if not c['times']:
            broken.append(f'{c["label"]}: no timing ({shown(out)}/log)')
            continue
        cached = f'{out}/{k + 1}.cached'
        res.append(dict({x: c[x] for x in ('name', 'kind', 'job', 'out', 'label', 'files_kind', 'rss', 'status',
                                           'out_lines', 'err_lines', 'wavs')},
                        runs=len(c['times']), median=statistics.median(c['times']), min=min(c['times']),
                        max=max(c['times']), cpu=statistics.mean(c['cpu']), n=len(c['files']),
                        cached=max(map(float, open(cached).read().split())) if os.path.exists(cached) else None))
    json.dump(res, open(out + '/results.json', 'w'), indent=1)
    return res


def plan(corpus, mode, lists, cwd):
    cmds = []
    for row in TABLE:
        if mode not in row['where'] or not runs_on(row, corpus):
            continue
        kind = row['files']
        files = lists['distinct'] if mode == 'cold' or kind in ('writes', 'renames') or \
            (mode == 'each' and kind == 'whole-each') \
            else lists['few'] if mode == 'each' and kind == 'few-each' else lists['files']
        files = files[:each_count] if mode == 'each' else files
        cmds.append(dict(row, files_kind=kind, files=files, argv=argv_of(row), cwd=cwd))
    return cmds


# --- the tables -------------------------------------------------------------------------
FLOORS = {'warm': ('floor-4k', 'x 4KB', 'floor-whole', 'x whole'), 'cold': ('floor-4k', 'x 4KB', 'floor-whole', 'x whole'),
          'each': ('floor-libs', 'x libs', 'floor-whole-libs', 'x whole')}


def per_photo(r):
    return r['median'] / r['n'], r['cpu'] / r['n']


def busy(r):
    # Every command is single-threaded; warm, its files are cached: wall time
    # well above CPU time means that it waited for a processor.
    w, c = per_photo(r)
    return w > 1.25 * c


def print_table(res, mode, where):
    global warned
    by = {r['name']: r for r in res}
    fa, an, fb, bn = FLOORS[mode]
    cold = mode == 'cold'
    say('   %-36s %26s %7s %7s %9s%s' % ('', 'seconds per 1000 photographs', an, bn, 'peak RSS', '  cached' if cold else ''))
    say('   %-36s %8s %15s %7s %7s %7s %9s%s' % ('command', 'median', '(min - max)', 'cpu', 'floor', 'floor', 'MB',
                                                 ' at start' if cold else ''))
    ratio = lambda r, f: '%7.2f' % (r['median'] / r['n'] / per_photo(by[f])[0]) if f in by else '%7s' % '-'
    for r in res:
        k = 1000 / r['n']
        star = '*' if not cold and busy(r) else ' '
        say('   %-36s %8.3f%s(%6.3f-%6.3f) %7.3f %s %s %9.1f%s%s' % (
            r['label'], r['median'] * k, star, r['min'] * k, r['max'] * k, r['cpu'] * k, ratio(r, fa), ratio(r, fb),
            r['rss'] / 1000 * 1.024, '   %6.1f%%' % r['cached'] if cold else '', '' if r['status'] == 'ok' else
            '  [%s]' % r['status']))
    if not cold and any(busy(r) for r in res):
        say('   * wall time well above CPU time: the machine was busy; goals rest on CPU time then')
    for r in res:
        mine = [o for o in res if o['kind'] == 'ours' and o['job'] == r['job'] and 'baseline' not in o['name']]
        if (r['kind'] == 'peer' or r['name'].endswith('-baseline')) and mine:
            (wo, co), (wr, cr) = per_photo(mine[0]), per_photo(r)
            say('   %-10s / %-36s = %7.3f, CPU %7.3f' % (mine[0]['label'], r['label'], wo / wr, co / cr))
    for r in res:  # Did every command do its job on every file?
        lines = []
        if r['status'] != 'ok':
            lines.append(r['status'])
            if 'signal' in r['status'] or r['status'] == 'exit status 127':
                broken.append(f'{r["label"]} ({where}): {r["status"]}')
        if r['kind'] != 'peer' and r['err_lines']:
            lines.append(f'wrote {r["err_lines"]} lines on standard error (see bench-results/{where})')
        if r['out'] != '-' and r['out_lines'] != int(r['out']) * r['n']:
            lines.append(f'wrote {r["out_lines"]} lines, expected {int(r["out"]) * r["n"]}')
        if r['files_kind'] == 'writes' and audio and r['wavs'] != r['n']:
            lines.append(f'wrote {r["wavs"]} .wav files, expected {r["n"]}')
        for line in lines:
            say(f'   warning: {r["label"]}: {line}')
            warned = True


# --- counters per photograph ---------------------------------------------------------------
READS = re.compile(r'^(?:read|pread64|readv|preadv|preadv2)\(\d+<([^>]*)>.*= (\d+)$')
MMAP = re.compile(r'^mmap\([^,]*, (\d+), [^,]*, [^,]*, \d+<([^>]*)>')


def strace_run(argv, files, cwd, path):
    with open(path + '.out', 'wb') as o:
        subprocess.run(['strace', '-y', '-s', '0', '-o', path] + argv + files, stdin=DEVNULL, stdout=o,
                       stderr=DEVNULL, cwd=cwd)
    calls = writes = 0
    got, mapped = {}, {}
    for line in open(path, errors='replace'):
        if re.match(r'[a-z_0-9]+\(', line):
            calls += 1
            writes += bool(re.match(r'writev?\([12]<', line))
        m = READS.match(line)
        if m and m.group(1).startswith(cwd + '/'):
            got[m.group(1)] = got.get(m.group(1), 0) + int(m.group(2))
        m = MMAP.match(line)
        if m and m.group(2).startswith(cwd + '/'):
            mapped[m.group(2)] = mapped.get(m.group(2), 0) + int(m.group(1))
    return calls, writes, got, mapped


def callgrind_run(argv, files, cwd, path):
    subprocess.run(['valgrind', '--tool=callgrind', '--callgrind-out-file=' + path] + argv + files,
                   stdin=DEVNULL, stdout=DEVNULL, stderr=DEVNULL, cwd=cwd)
    m = re.search(r'^(?:summary|totals): (\d+)', open(path).read(), re.M) if os.path.exists(path) else None
    return int(m.group(1)) if m else None


def counters(corpus, lists, cwd, out):
    # Runs over the first a and the first b photographs: per photograph is the
    # difference over b - a, so that start-up drops out.
    a, b = count_runs[0], min(count_runs[1], len(lists['distinct']))
    os.makedirs(out)
    res = []
    for k, row in enumerate(r for r in TABLE if runs_on(r, corpus) and ('count' in r['where'] or 'strace' in r['where'])):
        argv, c = argv_of(row), dict(name=row['name'], label=row['label'])
        if row['job'] == 'start':  # a start-up floor: one whole run
            if use_callgrind and not SMOKE:
                c['startup'] = callgrind_run(argv, [], cwd, f'{out}/{k}.cg')
            res.append(c)
            continue
        if b <= a:
            continue
        runs = {}
        for n in (a, b):
            files = lists['distinct'][:n]
            if use_strace:
                runs[n, 's'] = strace_run(argv, files, cwd, f'{out}/{k}.strace.{n}')
                take_wavs(files, cwd)
            # (The smoke run counts only chronel's, on the standard corpus: it checks that counting works.)
            if use_callgrind and 'count' in row['where'] and not (SMOKE and (corpus, row['name']) != ('standard', 'chronel')):
                runs[n, 'c'] = callgrind_run(argv, files, cwd, f'{out}/{k}.cg.{n}')
                take_wavs(files, cwd)
        if use_strace:
            (ca, wa, _, _), (cb, wb, got, mapped) = runs[a, 's'], runs[b, 's']
            reads = sorted(got.values()) or [0]
            c.update(calls=(cb - ca) / (b - a), writes=(wb - wa) / (b - a), read_median=statistics.median(reads),
                     read_max=reads[-1], mapped=sum(mapped.values()) / b)
        if runs.get((a, 'c')) and runs.get((b, 'c')):
            c['ins'] = (runs[b, 'c'] - runs[a, 'c']) / (b - a)
            c['startup'] = runs[a, 'c'] - a * c['ins']
        res.append(c)
    json.dump(res, open(out + '/counters.json', 'w'), indent=1)
    say('   %-36s %7s %7s %10s %10s %9s %10s %12s' % ('', 'system', 'output', 'bytes read', '', 'bytes', 'instruc-',
                                                      'start-up'))
    say('   %-36s %7s %7s %10s %10s %9s %10s %12s' % ('command', 'calls', 'writes', 'median', 'largest', 'mapped', 'tions',
                                                      'instructions'))
    fmt = lambda c, k, f: f % c[k] if c.get(k) is not None else '-'
    for c in res:
        say('   %-36s %7s %7s %10s %10s %9s %10s %12s' % (
            c['label'], fmt(c, 'calls', '%.1f'), fmt(c, 'writes', '%.1f'), fmt(c, 'read_median', '%.0f'),
            fmt(c, 'read_max', '%.0f'), fmt(c, 'mapped', '%.0f'), fmt(c, 'ins', '%.0f'), fmt(c, 'startup', '%.0f')))
    return {c['name']: c for c in res}


# --- the goals (bench/README.md says why each is where it is) ----------------------------------
R, CN, verdicts = {}, {}, []  # results by (corpus, mode) and name; counters by corpus and name


def goal(ok, text):
    verdicts.append(('holds   ' if ok else 'MISSED  ') + text)


def compare(corpus, mode, a, b):
    g = R.get((corpus, mode), {})
    if a not in g or b not in g:
        return None
    (wa, ca), (wb, cb) = per_photo(g[a]), per_photo(g[b])
    cpu = mode != 'cold' and (busy(g[a]) or busy(g[b]))
    return dict(r=ca / cb if cpu else wa / wb, wall=wa / wb, cpu=ca / cb, basis='cpu' if cpu else 'wall')


def ratio_goal(corpus, mode, a, b, limit, text, basis=None):
    """a's time at most limit x b's; by wall time, or by CPU time when either
    waited for a processor (warm), or by the basis named."""
    c = compare(corpus, mode, a, b)
    if not c:
        return
    r = c[basis or 'r']
    if basis == 'cpu':
        fig = f'{r:.3f} x by CPU time (wall time {c["wall"]:.3f} x)'
    elif basis == 'wall' or c['basis'] == 'wall':
        fig = f'{c["wall"]:.3f} x (CPU time {c["cpu"]:.3f} x)'
    else:
        fig = f'{r:.3f} x by CPU time (the machine was busy: wall time {c["wall"]:.3f} x)'
    goal(r <= limit, f'{text} ({corpus}, {mode}): {fig}')


def peak(corpus, name):
    return max((g[name]['rss'] for (c, m), g in R.items() if c == corpus and name in g), default=None)


def goals(corpus, largest):
    if corpus in ('movie', 'png'):  # figures only: the tables and counters show them
        return
    jpeg = corpus != 'heic'
    if jpeg:
        for c in ('standard', 'camera'):
            corpus == c and ratio_goal(c, 'warm', 'chronel', 'jhead', 0.9, "chronel at most 0.9 x jhead's CPU time", 'cpu')
        corpus == 'large' and ratio_goal(corpus, 'warm', 'chronel', 'jhead', 0.999, 'chronel faster than jhead')
        ratio_goal(corpus, 'warm', 'chronel-n', 'chronel-m', 2.0, 'chronel -n at most 2 x chronel -m (filing: '
                   'a rename and its checks where -m sets a time)')
        ratio_goal(corpus, 'warm', 'chronel', 'floor-4k', 1.8, 'chronel at most 1.8 x the 4 KB floor (its read and '
                   'close, and 25,000 instructions)')
        for tool, floor in (('segdump', 'floor-whole'), ('glossel', 'floor-whole'), ('sonlift', 'floor-write')):
            what = {'floor-whole': 'whole-file floor', 'floor-write': 'write floor'}[floor]
            ratio_goal(corpus, 'warm', tool, floor, 1.3, f'{tool} at most 1.3 x the {what}')
            ratio_goal(corpus, 'each', tool, floor + '-libs', 1.1, f'{tool} at most 1.1 x the {what} with the libraries')
        if corpus in ('standard', 'large'):
            ratio_goal(corpus, 'cold', 'chronel', 'jhead', 0.25, "chronel at most 0.25 x jhead's wall time", 'wall')
        else:
            ratio_goal(corpus, 'cold', 'chronel', 'jhead', 0.999, "chronel faster than jhead", 'wall')
        ratio_goal(corpus, 'each', 'chronel', 'floor-libs', 1.1, 'chronel at most 1.1 x the start-up floor with the 3 '
                   'libraries')
        ratio_goal(corpus, 'each', 'chronel', 'exiv2', 0.999, 'chronel faster than exiv2, also C++ with a shared '
                   'library')
    else:  # HEIC: as far ahead of the peers as on the standard JPEG corpus, within the noise (20%)
        for mode in ('warm', 'cold'):
            ch = R.get(('heic', mode), {}).get('chronel')
            for p in ('exiftool', 'exiv2'):
                h, j = compare('heic', mode, 'chronel', p), compare('standard', mode, 'chronel', p)
                if not (h and j and ch):
                    continue
                text = f'chronel as far ahead of {p} on HEIC as on JPEG, within 20% (heic, {mode}): ' \
                       f'{h["r"]:.3f} x its time, on JPEG {j["r"]:.3f} x'
                if R['heic', mode][p]['status'] != 'ok':
                    verdicts.append(f'n/a     {text}, but {p} fails on HEIC ({R["heic", mode][p]["status"]})')
                elif ch['out_lines'] < ch['n']:
                    goal(False, f'{text}, but chronel read {ch["out_lines"]} of {ch["n"]} capture times')
                else:
                    goal(h['r'] <= 1.2 * j['r'], text)
    cn = CN.get(corpus, {})
    ch = cn.get('chronel', {})
    if jpeg and ch.get('ins') is not None:
        goal(ch['ins'] <= 25000, f'chronel at most 25,000 instructions per photograph ({corpus}): {ch["ins"]:.0f}')
    if jpeg and ch.get('calls') is not None:
        goal(ch['calls'] - ch['writes'] <= 5, f'chronel at most 5 system calls per photograph besides its output '
             f'writes ({corpus}): {ch["calls"] - ch["writes"]:.1f} and {ch["writes"]:.2f} writes')
    if corpus == 'camera' and ch.get('read_median') is not None:
        goal(ch['read_median'] <= 8192, f'chronel reads at most 8 KB per photograph (median, camera): '
             f'{ch["read_median"]:.0f} bytes')
    floor = peak(corpus, 'floor-libs')
    for tool in ('chronel', 'segdump', 'glossel', 'sonlift'):
        rss = peak(corpus, tool)
        if rss is None:
            continue
        if tool == 'chronel' and floor and ch.get('read_max') is not None:
            limit = floor * 1024 + 500000 + ch['read_max']
            goal(rss * 1024 <= limit, f'chronel peak memory at most the start-up floor with the libraries + 0.5 MB + '
                 f'what it reads ({corpus}): {rss * 1.024 / 1000:.2f} MB of {limit / 1e6:.2f} MB')
        elif tool != 'chronel':
            limit = largest + 4000000
            goal(rss * 1024 <= limit, f'{tool} peak memory at most the largest photograph + 4 MB ({corpus}): '
                 f'{rss * 1.024 / 1000:.2f} MB of {limit / 1e6:.2f} MB')
        old = peak(corpus, tool + '-baseline')
        if old:
            # Peak memory differs by up to 0.1 MB from run to run of one program.
            goal(rss <= old + 200, f'{tool} peak memory at most the baseline\'s + 0.2 MB ({corpus}): '
                 f'{rss * 1.024 / 1000:.2f} MB, baseline {old * 1.024 / 1000:.2f} MB')
        ins, old = cn.get(tool, {}).get('ins'), cn.get(tool + '-baseline', {}).get('ins')
        if ins and old:
            goal(ins <= old * 1.01, f'{tool} instructions per photograph not above the baseline\'s + 1% ({corpus}): '
                 f'{ins:.0f}, baseline {old:.0f}')


# --- the chart --------------------------------------------------------------------------------
CHART = [('chronel\\nwarm', 'standard', 'warm', 'chronel', ['floor-4k']),
         ('chronel\\ncold', 'standard', 'cold', 'chronel', ['floor-4k']),
         ('chronel, one\\nprocess each', 'standard', 'each', 'chronel', ['floor-start', 'floor-libs', 'floor-4k']),
         ('segdump\\nwarm', 'standard', 'warm', 'segdump', ['floor-whole']),
         ('glossel\\nwarm', 'standard', 'warm', 'glossel', ['floor-whole']),
         ('sonlift\\nwarm', 'standard', 'warm', 'sonlift', ['floor-write']),
         ('chronel\\nHEIC, warm', 'heic', 'warm', 'chronel', ['floor-4k', 'floor-whole']),
         ('chronel\\nHEIC, cold', 'heic', 'cold', 'chronel', ['floor-4k', 'floor-whole'])]
# The series: name, gnuplot point type, colour.  Our tools filled and
# black, the peers filled in colour, the floors open.
SERIES = [('our tool', 13, '#000000'), ('our tool (baseline)', 12, '#000000'), ('exiftool', 5, '#1f77b4'),
          ('exiv2', 9, '#2ca02c'), ('jhead', 11, '#ff7f0e'), ('floor: start-up (C++ run-time)', 6, '#9467bd'),
          ('floor: start-up + the 3 libraries', 4, '#8c564b'), ('floor: open + 4 KB + close', 8, '#d62728'),
          ('floor: open + whole file + close', 10, '#17becf'), ('floor: whole file + write clip', 3, '#7f7f7f')]


def chart(machine, date):
    """Dots per job on a logarithmic axis, from this run's results (gnuplot)."""
    names, rows = [s[0] for s in SERIES], []
    for title, corpus, mode, tool, floors in CHART:
        g = R.get((corpus, mode))
        if not g or tool not in g:
            continue
        v = {}
        for r in g.values():
            if r['name'] == tool:
                v[names[0]] = r
            elif r['name'] == tool + '-baseline' and r['status'] == 'ok' and not r['err_lines']:
                v[names[1]] = r  # a baseline that failed on the photographs (HEIC) has no time
            elif r['kind'] == 'peer' and r['job'] == g[tool]['job'] and r['status'] == 'ok':
                v[r['label'].split()[0]] = r
            elif r['name'] in floors:
                v[r['label']] = r
        fails = g[tool]['status'] != 'ok' or g[tool]['err_lines']
        rows.append([title + (', fails' if fails else '')] +
                    ['%.6g' % (v[s]['median'] / v[s]['n'] * 1000) if s in v else '?' for s in names])
    used = [k for k in range(len(SERIES)) if any(r[k + 1] != '?' for r in rows)]
    with open(results + '/bench.dat', 'w') as f:
        for r in rows:
            f.write('\t'.join([r[0]] + [r[k + 1] for k in used]) + '\n')
    plots = ', '.join(f"'bench.dat' using ($0 + {(j - (len(used) - 1) / 2) * 0.07:.3f}):{j + 2} with points pt "
                      f"{SERIES[k][1]} ps 1.8 lc rgb '{SERIES[k][2]}' title '{SERIES[k][0]}'"
                      for j, k in enumerate(used))
    tics = ', '.join(f'"{r[0]}" {i}' for i, r in enumerate(rows))
    script = f'''set terminal svg size 1280,720 dynamic noenhanced font 'Sans,13' background rgb 'white'
set output 'bench.svg'
set title "orvane benchmark: time per 1000 photographs: the standard corpus ({human(size_mb * 1e6)} JPEG photographs) and the HEIC one\\n{machine}; {date}"
set datafile separator '\\t'
set datafile missing '?'
set logscale y
set format y '%g'
set ylabel 'seconds per 1000 photographs (logarithmic scale)'
set xlabel 'job: warm or cold page cache, one process for all photographs, or one process per photograph' offset 0,-1
set bmargin 6
set xtics ({tics}) nomirror
set xrange [-0.5:{len(rows) - 0.5}]
set grid ytics mytics lc rgb '#dddddd'
set for [k=1:{len(rows) - 1}] arrow from k - 0.5, graph 0 to k - 0.5, graph 1 nohead lc rgb '#cccccc'
set key outside right top vertical title 'command' Left reverse
plot {plots}
'''
    open(results + '/bench.gp', 'w').write(script)
    sh(['gnuplot', 'bench.gp'], cwd=results)
    if os.environ.get('BENCH_SAVE_CHART') == '1':
        shutil.copy(results + '/bench.svg', os.path.join(HERE, 'results.svg'))


# --- the run --------------------------------------------------------------------------------
def main():
    if os.path.exists(spent) and os.listdir(spent):
        remove(spent)
    shutil.rmtree(results, ignore_errors=True)
    if SMOKE:
        shutil.rmtree(corpus_root, ignore_errors=True)
    os.makedirs(spent)
    meminfo = open('/proc/meminfo').read()
    mem = int(re.search(r'MemTotal:\s+(\d+)', meminfo).group(1))
    cpu = re.search(r'model name\s*:\s*(.*)', open('/proc/cpuinfo').read())
    machine = f'{cpu.group(1).strip() if cpu else os.uname().machine}, {os.cpu_count()} cores, {mem / 1048576:.0f} GiB RAM'
    date = datetime.date.today().isoformat()
    say('orvane benchmark' + (', smoke run (BENCH_SMOKE=1)' if SMOKE else ', quick subset (BENCH_QUICK=1)' if QUICK else ''))
    say(f'machine: {machine}, {os.uname().sysname} {os.uname().release}; {date}')
    say('load average at the start: ' + ' '.join(open('/proc/loadavg').read().split()[:3]))
    say('peers: ' + (' '.join(p for p in peers if shutil.which(p)) or 'none') + ' (not installed: ' +
        (' '.join(p for p in peers if not shutil.which(p)) or 'none') + ')')
    say(f'modes: {" ".join(modes)}; every command handles {count} photographs (times are given per 1000)')
    if baseline:
        say('baseline: the tools of BENCH_BASELINE, timed beside the others as "... (baseline)"')
    begin = time.time()
    names = ['standard', 'large', 'camera'] + (['heic'] if use_heic else []) + ['movie', 'png']
    if only not in names + ['', 'corpus']:
        die('BENCH_ONLY: standard, large, camera, heic, movie, png or corpus')
    if only in names:
        names = [only]
    makers = {'standard': lambda n: make_standard('standard', round(size_mb * 1e6), n),
              'large': lambda n: make_standard('large', round(size_mb * scale * 1e6), n),
              'camera': make_camera, 'heic': make_heic,
              'movie': lambda n: make_generated('movie', '--movies', n),
              'png': lambda n: make_generated('png', '--screenshots', n)}
    dirs = {c: makers[c](distinct_counts[c]) + '/photos' for c in names}
    if only == 'corpus':
        return 0
    subprocess.run(['sync'])  # written back, so that the cold runs find clean pages to drop
    settle()
    lists = {}
    for corpus in names:
        take_back_filed(dirs[corpus])  # left by an interrupted run
        distinct = photos_in(dirs[corpus])[:distinct_counts[corpus]]
        take_wavs(distinct, dirs[corpus])  # left by an interrupted run
        files = (distinct * (count // len(distinct) + 1))[:count]
        lists[corpus] = dict(distinct=distinct, files=files, few=files[:each_slow])
        sizes = [os.path.getsize(f'{dirs[corpus]}/{f}') for f in distinct]
        say(f'\n== {corpus} corpus: {len(distinct)} photographs, {human(min(sizes))} to {human(max(sizes))}, '
            f'{human(sum(sizes) / len(sizes))} on average, {human(sum(sizes))} in all')
        if len(distinct) < count:
            say(f'   warm{"" if corpus == "heic" else " and one process each"}: {count} photographs, each named '
                f'{-(-count // len(distinct))} times (sonlift and the write floors: once); cold: each once')
        if each_count < count and corpus != 'heic':
            say(f'   one process per photograph: the first {each_count} photographs (BENCH_EACH_COUNT)')
        if sum(sizes) > mem * 1024 * 3 / 4:
            say('   (more than the page cache can hold on this machine: warm times include disk reads)')
        for mode in modes:
            if corpus == 'heic' and mode == 'each':
                continue
            title = {'warm': 'warm page cache, one process for all photographs',
                     'cold': 'cold: every photograph dropped from the page cache before every run',
                     'each': 'one process per photograph'}[mode]
            say(f'\n-- {corpus} corpus, {title}: {rounds[mode]} timed rounds, order rotating')
            t0 = time.time()
            res = run_set(plan(corpus, mode, lists[corpus], dirs[corpus]), mode, f'{results}/{corpus}/{mode}')
            if mode == 'warm':
                say(f'   page cache held {cached_share(distinct, dirs[corpus]):.0f}% of the corpus after the runs '
                    '(fincore)')
            print_table(res, mode, f'{corpus}/{mode}')
            R[corpus, mode] = {r['name']: r for r in res}
            say(f'   ({time.time() - t0:.0f} s)')
        a, b = count_runs[0], min(count_runs[1], len(distinct))
        say(f'\n-- {corpus} corpus, counters per photograph (photographs 1-{a} and 1-{b}, the difference)')
        t0 = time.time()
        CN[corpus] = counters(corpus, lists[corpus], dirs[corpus], f'{results}/{corpus}/counters')
        say(f'   ({time.time() - t0:.0f} s)')
    jpegs = [c for c in ('standard', 'large', 'camera') if c in names]
    if len(jpegs) == 3 and 'warm' in modes:  # chronel over as many photographs of each corpus, side by side
        cmds = []
        for corpus in jpegs:
            for row in TABLE:
                if row['name'] in ('floor-4k', 'chronel'):
                    cmds.append(dict(row, name=f'{row["name"]}-{corpus}', label=f'{row["label"]}, {corpus}',
                                     files_kind='all', files=lists[corpus]['files'], argv=argv_of(row),
                                     cwd=dirs[corpus]))
        say(f'\n-- chronel over {count} photographs of each corpus, side by side (warm)')
        res = run_set(cmds, 'warm', results + '/sizes')
        for r in res:
            w, c = per_photo(r)
            say(f'   {r["label"]:36s} {w * 1e6:8.1f} us per photograph, CPU {c * 1e6:6.1f} us ({r["runs"]} runs)')
        R['sizes', 'warm'] = {r['name']: r for r in res}
    say('\nload average at the end: ' + ' '.join(open('/proc/loadavg').read().split()[:3]))

    for corpus in names:
        goals(corpus, max(os.path.getsize(f'{dirs[corpus]}/{f}') for f in lists[corpus]['distinct']))
    if ('sizes', 'warm') in R:
        for corpus in ('large', 'camera'):
            ratio_goal('sizes', 'warm', 'chronel-' + corpus, 'chronel-standard', 1.2,
                       f"chronel's time per photograph, {corpus} / standard corpus, at most 1.2")
        a, b = CN['standard'].get('chronel', {}).get('ins'), CN['large'].get('chronel', {}).get('ins')
        if a and b:
            goal(b / a <= 1.02, f"chronel's instructions per photograph, large / standard corpus, at most 1.02: {b / a:.3f} x")
    if use_chart and names:
        chart(machine, date)
        say('\nchart: ' + shown(results + '/bench.svg') +
            (' (copied to bench/results.svg)' if os.environ.get('BENCH_SAVE_CHART') == '1' else ''))
    say('\n== Goals')
    for v in verdicts:
        say('   ' + v)
    say(f'   {sum(v.startswith("holds") for v in verdicts)} goals hold, {sum(v.startswith("MISSED") for v in verdicts)} '
        'missed')
    if warned:
        say('   (see the warnings above: some outputs were not as expected)')
    say(f'benchmark time: {time.time() - begin:.0f} s')
    if SMOKE:
        want = [(c, m) for c in names for m in modes if not (c == 'heic' and m == 'each')]
        broken.extend(f'no results for {c}, {m}' for c, m in want if not R.get((c, m)))
        broken.extend(f'no counters for {c}' for c in names if not CN.get(c))
        os.path.exists(results + '/bench.svg') or broken.append('no chart')
    for b in broken:
        say('bench: broken: ' + b)
    return 1 if broken else 0


try:
    code = main()
finally:
    if os.path.exists(spent) and os.listdir(spent):
        remove(spent)
    if SMOKE:
        shutil.rmtree(corpus_root, ignore_errors=True)
sys.exit(code)
