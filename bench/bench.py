#!/usr/bin/python3
# The benchmark (bench/README.md): the tools against their peers and floors.
#
#   bench/bench.py BUILD_DIR        make bench builds the programs and runs this
#   bench/bench.py drop LIST OUT    the cold mode's hyperfine --prepare
#
# The commands are listed once, in bench/commands.tsv, and the goals in
# bench/goals.tsv.  hyperfine times the commands; this script makes the
# corpora, rotates the commands from round to round, takes the peak memory
# from GNU time (wait4), counts system calls and bytes read (strace) and
# instructions (callgrind), prints the tables and the goals, and draws the
# chart (gnuplot).  Settings: BENCH_* variables, read by configure(); what a
# run measures lives in one Results object that main() hands on.
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


# --- settings -------------------------------------------------------------------
SMOKE = QUICK = False


def setting(name, full, quick=None, smoke=None):
    v = os.environ.get('BENCH_' + name)
    if v:
        return type(full)(v)
    return smoke if SMOKE and smoke is not None else quick if QUICK and quick is not None else full


def configure(build_dir):
    """Reads the settings (BENCH_* variables) into this module's names: set
    once a run, before anything else, and never changed after."""
    global SMOKE, QUICK, count, rounds, each_count, each_slow, size_mb, scale, camera_scale, heic_size, audio, \
        modes, peers, use_callgrind, only, rows, settle_s, install, distinct_counts, count_runs, baseline, clip, \
        warm_names, build, bench, results, corpus_root, node_modules, mark, spent
    SMOKE = os.environ.get('BENCH_SMOKE') == '1'
    QUICK = os.environ.get('BENCH_QUICK') == '1'
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
    peers = setting('PEERS', 'exiftool exiv2 jhead exifr').split()
    use_callgrind = setting('CALLGRIND', '1') == '1'
    only = setting('ONLY', '')
    settle_s = setting('SETTLE', 360, 360, 0)
    install = setting('INSTALL', '1' if os.getuid() == 0 else '0') == '1'
    distinct_counts = {'standard': count, 'large': setting('LARGE_COUNT', 200, 20, 3),
                       'camera': setting('CAMERA_COUNT', 250, 25, 6), 'heic': setting('HEIC_COUNT', 200, 20, 4),
                       'movie': setting('MOVIE_COUNT', 100, 10, 4), 'png': setting('PNG_COUNT', 200, 20, 4)}
    count_runs = (setting('COUNT_FIRST', 10, 10, 2), setting('COUNT_PHOTOS', 60, 30, 5))
    baseline = os.path.abspath(os.environ['BENCH_BASELINE']) if os.environ.get('BENCH_BASELINE') else ''
    rows = setting('ROWS', '').split()  # only these rows of bench/commands.tsv, when named
    clip = 44 + int(audio) * 8000

    build = os.path.abspath(build_dir)
    bench = build + '/bench'
    results = build + '/bench-results'
    # The smoke run makes its corpora from scratch in a folder of its own, removed at the end.
    corpus_root = build + '/bench-smoke-corpus' if SMOKE else \
        os.path.abspath(os.environ.get('BENCH_CORPUS') or build + '/corpus')
    # Warm rows of files kind "many" name the photographs over and over, to at
    # least this many names: a run of a few milliseconds is at the mercy of
    # every other process, one of a tenth of a second is not.
    warm_names = setting('WARM_NAMES', 10000, 2000, 12)
    # The npm peers (.ci/prereqs bench installs them there).
    node_modules = os.path.abspath(os.environ.get('BENCH_NODE_PREFIX') or build + '/node') + '/node_modules'
    mark = corpus_root + '/.deleted-at'
    spent = results + '/spent'


recipe, camera_recipe, heic_recipe = 3, 3, 1  # bumped when a corpus's recipe changes
camera_sizes = [1, 6.5, 12, 17.5, 23, 28.5, 34, 40]  # MB, before BENCH_CAMERA_SCALE


class Results:
    """What one run measured and concluded."""

    def __init__(self):
        self.timed = {}     # (corpus, mode) -> {command name: timing}
        self.counted = {}   # corpus -> {command name: counters per photograph}
        self.verdicts = []  # the goals, each a line
        self.broken = []    # what broke the benchmark itself: exit status 1 at the end
        self.warned = False  # some output was not as expected
        self.spent = 0      # .wav files moved aside so far


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
def check_programs():
    """Installs what the bench step needs (as root) or names what is missing, and
    stops when a program the run cannot do without is not there."""
    global use_strace, use_callgrind, use_chart, use_heic, use_exifr
    prereqs = ['bash', os.path.join(HERE, '..', '.ci', 'prereqs')]
    subprocess.run(prereqs + (['bench'] if install else ['--check', 'bench']),
                   env=dict(os.environ, BENCH_NODE_PREFIX=os.path.dirname(node_modules)))
    for p in ('hyperfine', 'cjpeg', 'jpegtran', 'fincore'):
        shutil.which(p) or die(p + ' is missing: bash .ci/prereqs bench')
    os.path.exists('/usr/bin/time') or die('GNU time is missing: bash .ci/prereqs bench')
    for p in ('chronel', 'segdump', 'glossel', 'sonlift'):
        os.access(f'{build}/{p}', os.X_OK) or die(f'{p} is missing from the build folder: make bench')
    for p in ('benchpicture', 'benchcorpus', 'benchfloor', 'benchfloorlibs', 'benchstart', 'benchstartlibs'):
        os.access(f'{bench}/{p}', os.X_OK) or die(f'bench/{p} is missing: configure with -DORVANE_BENCH=ON')
    if baseline:
        for p in ('chronel', 'segdump', 'glossel', 'sonlift'):
            os.access(f'{baseline}/{p}', os.X_OK) or die(f'BENCH_BASELINE has no {p}')
    use_strace = bool(shutil.which('strace'))
    use_callgrind = use_callgrind and bool(shutil.which('valgrind'))
    use_chart = bool(shutil.which('gnuplot'))
    use_heic = bool(shutil.which('heif-enc') and shutil.which('exiftool'))
    use_exifr = 'exifr' in peers and bool(shutil.which('node')) and os.path.isdir(node_modules + '/exifr')
    for what, ok in (('strace', use_strace), ('valgrind', use_callgrind), ('gnuplot', use_chart),
                     ('heif-enc and exiftool', use_heic),
                     ('exifr (npm, for node)', use_exifr or 'exifr' not in peers)):
        ok or say(f'bench: {what} missing: left out (bash .ci/prereqs bench)')
    if SMOKE and not (use_strace and use_callgrind and use_chart and use_heic and use_exifr):
        die('the smoke run needs every package of the bench step: bash .ci/prereqs bench')


# --- the command table ------------------------------------------------------------
def read_table():
    """bench/commands.tsv's rows that this run can run, with a baseline row
    beside each of ours when BENCH_BASELINE is set."""
    table = []
    for n, line in enumerate(open(os.path.join(HERE, 'commands.tsv')), 1):
        if line.startswith('#') or not line.strip():
            continue
        f = line.rstrip('\n').split('\t')
        if len(f) != 9 or f[1] not in ('ours', 'peer', 'floor') or \
                f[6] not in ('all', 'many', 'writes', 'renames', 'whole-each', 'few-each'):
            die(f'bench/commands.tsv line {n}: not 9 valid tab-separated fields')
        row = dict(zip(('name', 'kind', 'job', 'out', 'where', 'corpora', 'files', 'label', 'command'), f))
        row['where'] = row['where'].split()
        if rows and row['name'] not in rows:
            continue
        if row['kind'] == 'peer':  # a peer is named by its row's first word, and may be left out
            peer, program = row['name'].split('-')[0], row['command'].split()[0]
            if peer not in peers or not shutil.which(program) or (peer == 'exifr' and not use_exifr):
                continue
        table.append(row)
        if row['kind'] == 'ours' and baseline:
            table.append(dict(row, name=row['name'] + '-baseline', label=row['label'] + ' (baseline)',
                              command=row['command'].replace('{tools}', baseline)))
    return table


def argv_of(row):
    cmd = row['command'].replace('{tools}', build).replace('{bench}', bench).replace('{clip}', str(clip)) \
        .replace('{source}', HERE).replace('{node_modules}', node_modules)
    return shlex.split(cmd)


def runs_on(row, corpus):
    c = row['corpora']
    return c == 'all' or c == corpus or (c == 'jpeg' and corpus in ('standard', 'large', 'camera'))


# --- the corpora ------------------------------------------------------------------
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


# --- running commands ---------------------------------------------------------------
def take_wavs(files, cwd, run):
    """Moves the .wav files written beside the photographs aside, to be deleted
    only after all timing (see settle); returns how many there were."""
    n = 0
    for f in files:
        try:
            os.rename(f'{cwd}/{f}.wav', f'{spent}/{run.spent}.wav')
            n, run.spent = n + 1, run.spent + 1
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


def check_run(c, base, each, run):
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
    c['wavs'] = take_wavs(c['files'], c['cwd'], run) if c['files_kind'] == 'writes' else 0
    if c['files_kind'] == 'renames':
        take_back_filed(c['cwd'])
    return wall


def run_set(cmds, mode, out, run):
    """Times the commands: a check run each, then rounds in rotating order, each
    command run by hyperfine `reps` times a round; results as a list of dicts."""
    os.makedirs(out)
    for k, c in enumerate(cmds):
        c['list'] = f'{out}/{k + 1}.list'
        open(c['list'], 'w').write('\n'.join(c['files']) + '\n')
        c['run'] = (['xargs', '-d', '\\n', '-n', '1', '-a', c['list']] + c['argv']) if mode == 'each' \
            else c['argv'] + c['files']
        wall = check_run(c, f'{out}/{k + 1}', mode == 'each', run)
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
                take_wavs(c['files'], c['cwd'], run)
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
            run.broken.append(f'{c["label"]}: no timing ({shown(out)}/log)')
            continue
        cached = f'{out}/{k + 1}.cached'
        res.append(dict({x: c[x] for x in ('name', 'kind', 'job', 'out', 'label', 'files_kind', 'rss', 'status',
                                           'out_lines', 'err_lines', 'wavs')},
                        runs=len(c['times']), median=statistics.median(c['times']), min=min(c['times']),
                        max=max(c['times']), cpu=statistics.mean(c['cpu']), n=len(c['files']),
                        cached=max(map(float, open(cached).read().split())) if os.path.exists(cached) else None))
    json.dump(res, open(out + '/results.json', 'w'), indent=1)
    return res


def plan(corpus, mode, lists, cwd, table):
    cmds = []
    for row in table:
        if mode not in row['where'] or not runs_on(row, corpus):
            continue
        kind = row['files']
        files = lists['distinct'] if mode == 'cold' or kind in ('writes', 'renames') or \
            (mode == 'each' and kind == 'whole-each') \
            else lists['few'] if mode == 'each' and kind == 'few-each' \
            else lists['many'] if mode == 'warm' and kind == 'many' else lists['files']
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


def print_table(res, mode, where, run):
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
                run.broken.append(f'{r["label"]} ({where}): {r["status"]}')
        if r['kind'] != 'peer' and r['err_lines']:
            lines.append(f'wrote {r["err_lines"]} lines on standard error (see bench-results/{where})')
        if r['out'] != '-' and r['out_lines'] != int(r['out']) * r['n']:
            lines.append(f'wrote {r["out_lines"]} lines, expected {int(r["out"]) * r["n"]}')
        if r['files_kind'] == 'writes' and audio and r['wavs'] != r['n']:
            lines.append(f'wrote {r["wavs"]} .wav files, expected {r["n"]}')
        for line in lines:
            say(f'   warning: {r["label"]}: {line}')
            run.warned = True


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


def counters(corpus, lists, cwd, out, run, table):
    # Runs over the first a and the first b photographs: per photograph is the
    # difference over b - a, so that start-up drops out.
    a, b = count_runs[0], min(count_runs[1], len(lists['distinct']))
    os.makedirs(out)
    res = []
    for k, row in enumerate(r for r in table if runs_on(r, corpus) and ('count' in r['where'] or 'strace' in r['where'])):
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
                take_wavs(files, cwd, run)
            # (The smoke run counts only chronel's, on the standard corpus: it checks that counting works.)
            if use_callgrind and 'count' in row['where'] and not (SMOKE and (corpus, row['name']) != ('standard', 'chronel')):
                runs[n, 'c'] = callgrind_run(argv, files, cwd, f'{out}/{k}.cg.{n}')
                take_wavs(files, cwd, run)
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


# --- the goals: bench/goals.tsv, and bench/README.md says why each is where it is -----------
def read_goals():
    goals = []
    for n, line in enumerate(open(os.path.join(HERE, 'goals.tsv')), 1):
        if line.startswith('#') or not line.strip():
            continue
        f = line.rstrip('\n').split('\t')
        if len(f) != 8 or f[0] not in GOAL_KINDS:
            die(f'bench/goals.tsv line {n}: not 8 valid tab-separated fields')
        goals.append(dict(zip(('kind', 'corpora', 'mode', 'a', 'b', 'limit', 'basis', 'text'), f),
                          limit=float(f[5]), a=f[3].split(), b=f[4].split()))
    return goals


def goal(run, ok, text):
    run.verdicts.append(('holds   ' if ok else 'MISSED  ') + text)


def compare(run, corpus, mode, a, b):
    g = run.timed.get((corpus, mode), {})
    if a not in g or b not in g:
        return None
    (wa, ca), (wb, cb) = per_photo(g[a]), per_photo(g[b])
    cpu = mode != 'cold' and (busy(g[a]) or busy(g[b]))
    return dict(r=ca / cb if cpu else wa / wb, wall=wa / wb, cpu=ca / cb, basis='cpu' if cpu else 'wall')


def ratio_goal(run, corpus, mode, a, b, limit, text, basis='-'):
    """a's time at most limit x b's; by wall time, or by CPU time when either
    waited for a processor (warm), or by the basis named."""
    c = compare(run, corpus, mode, a, b)
    if not c:
        return
    r = c['r' if basis == '-' else basis]
    if basis == 'cpu':
        fig = f'{r:.3f} x by CPU time (wall time {c["wall"]:.3f} x)'
    elif basis == 'wall' or c['basis'] == 'wall':
        fig = f'{c["wall"]:.3f} x (CPU time {c["cpu"]:.3f} x)'
    else:
        fig = f'{r:.3f} x by CPU time (the machine was busy: wall time {c["wall"]:.3f} x)'
    goal(run, r <= limit, f'{text} ({corpus}, {mode}): {fig}')


def peak(run, corpus, name):
    return max((g[name]['rss'] for (c, m), g in run.timed.items() if c == corpus and name in g), default=None)


def heic_goal(run, g, corpus, tool):
    """As far ahead of each peer on HEIC as on the standard JPEG corpus, within the limit."""
    for mode in g['mode'].split():
        ch = run.timed.get((corpus, mode), {}).get(tool)
        for p in g['b']:
            h, j = compare(run, corpus, mode, tool, p), compare(run, 'standard', mode, tool, p)
            if not (h and j and ch):
                continue
            text = f'{g["text"].replace("PEER", p)} ({corpus}, {mode}): {h["r"]:.3f} x its time, on JPEG {j["r"]:.3f} x'
            if run.timed[corpus, mode][p]['status'] != 'ok':
                run.verdicts.append(f'n/a     {text}, but {p} fails on HEIC ({run.timed[corpus, mode][p]["status"]})')
            elif ch['out_lines'] < ch['n']:
                goal(run, False, f'{text}, but {tool} read {ch["out_lines"]} of {ch["n"]} capture times')
            else:
                goal(run, h['r'] <= g['limit'] * j['r'], text)


def counter_goal(run, g, corpus, tool):
    c = run.counted.get(corpus, {}).get(tool, {})
    key = g['b'][0]
    if key == 'calls-writes':
        if c.get('calls') is not None:
            goal(run, c['calls'] - c['writes'] <= g['limit'], f'{g["text"]} ({corpus}): '
                 f'{c["calls"] - c["writes"]:.1f} and {c["writes"]:.2f} writes')
    elif c.get(key) is not None:
        goal(run, c[key] <= g['limit'], f'{g["text"]} ({corpus}): {c[key]:,.0f}')


def memory_goal(run, g, corpus, tool, largest):
    rss = peak(run, corpus, tool)
    if rss is None:
        return
    mb = lambda kb: f'{kb * 1.024 / 1000:.2f} MB'
    if g['kind'] == 'memory-read':  # the floor with the libraries + limit + what the tool reads
        floor, c = peak(run, corpus, g['b'][0]), run.counted.get(corpus, {}).get(tool, {})
        if floor and c.get('read_max') is not None:
            limit = floor * 1024 + g['limit'] + c['read_max']
            goal(run, rss * 1024 <= limit, f'{g["text"]} ({corpus}): {mb(rss)} of {limit / 1e6:.2f} MB')
    elif g['kind'] == 'memory-largest':  # the largest photograph + limit
        limit = largest + g['limit']
        goal(run, rss * 1024 <= limit, f'{g["text"].replace("TOOL", tool)} ({corpus}): {mb(rss)} of {limit / 1e6:.2f} MB')
    else:  # memory-baseline: the baseline's + limit kB (the run-to-run spread of one program)
        old = peak(run, corpus, tool + '-baseline')
        if old:
            goal(run, rss <= old + g['limit'], f'{g["text"].replace("TOOL", tool)} ({corpus}): {mb(rss)}, '
                 f'baseline {mb(old)}')


def baseline_instructions_goal(run, g, corpus, tool):
    cn = run.counted.get(corpus, {})
    ins, old = cn.get(tool, {}).get('ins'), cn.get(tool + '-baseline', {}).get('ins')
    if ins and old:
        goal(run, ins <= old * g['limit'], f'{g["text"].replace("TOOL", tool)} ({corpus}): {ins:.0f}, baseline {old:.0f}')


def sizes_goal(run, g):
    """chronel over as many photographs of each JPEG corpus, side by side."""
    if g['kind'] == 'sizes':
        for a in g['a']:
            ratio_goal(run, 'sizes', 'warm', a, g['b'][0], g['limit'], g['text'].replace('CORPUS', a.split('-')[-1]))
    else:  # sizes-instructions: the counters of two corpora
        a, b = (run.counted.get(c, {}).get('chronel', {}).get('ins') for c in (g['a'][0], g['b'][0]))
        if a and b:
            goal(run, a / b <= g['limit'], f'{g["text"]}: {a / b:.3f} x')


GOAL_KINDS = ('ratio', 'heic', 'counter', 'memory-read', 'memory-largest', 'memory-baseline', 'instructions-baseline',
              'sizes', 'sizes-instructions')


def judge(run, goals, corpora, largest):
    """Every goal of bench/goals.tsv that this run's results can judge."""
    for g in goals:
        if g['kind'].startswith('sizes'):
            if ('sizes', 'warm') in run.timed or g['kind'] == 'sizes-instructions':
                sizes_goal(run, g)
            continue
        for corpus in corpora:
            if not runs_on(dict(corpora=g['corpora']), corpus) and corpus not in g['corpora'].split():
                continue
            for a in g['a']:
                if g['kind'] == 'ratio':
                    for mode in g['mode'].split():
                        ratio_goal(run, corpus, mode, a, g['b'][0], g['limit'], g['text'].replace('TOOL', a), g['basis'])
                elif g['kind'] == 'heic':
                    heic_goal(run, g, corpus, a)
                elif g['kind'] == 'counter':
                    counter_goal(run, g, corpus, a)
                elif g['kind'].startswith('memory'):
                    memory_goal(run, g, corpus, a, largest[corpus])
                else:
                    baseline_instructions_goal(run, g, corpus, a)


# --- the chart --------------------------------------------------------------------------------
CHART = [('chronel\\nwarm', 'standard', 'warm', 'chronel', ['floor-4k']),
         ('chronel\\ncold', 'standard', 'cold', 'chronel', ['floor-4k', 'floor-4k-32']),
         ('chronel, one\\nprocess each', 'standard', 'each', 'chronel', ['floor-start', 'floor-libs', 'floor-4k']),
         ('segdump\\nwarm', 'standard', 'warm', 'segdump', ['floor-whole']),
         ('glossel\\nwarm', 'standard', 'warm', 'glossel', ['floor-whole']),
         ('sonlift\\nwarm', 'standard', 'warm', 'sonlift', ['floor-write']),
         ('chronel\\nHEIC, warm', 'heic', 'warm', 'chronel', ['floor-4k', 'floor-whole']),
         ('chronel\\nHEIC, cold', 'heic', 'cold', 'chronel', ['floor-4k', 'floor-whole'])]
# The series: name, gnuplot point type, colour.  Our tools filled and
# black, the peers filled in colour, the floors open.
SERIES = [('our tool', 13, '#000000'), ('our tool (baseline)', 12, '#000000'), ('exiftool', 5, '#1f77b4'),
          ('exiv2', 9, '#2ca02c'), ('jhead', 11, '#ff7f0e'), ('exifr', 7, '#e377c2'), ('floor: start-up (C++ run-time)', 6, '#9467bd'),
          ('floor: start-up + the 3 libraries', 4, '#8c564b'), ('floor: open + 4 KB + close', 8, '#d62728'),
          ('floor: 32 readers of 4 KB at once', 2, '#bcbd22'),
          ('floor: open + whole file + close', 10, '#17becf'), ('floor: whole file + write clip', 3, '#7f7f7f')]


def chart(run, machine, date):
    """Dots per job on a logarithmic axis, from this run's results (gnuplot)."""
    names, rows = [s[0] for s in SERIES], []
    for title, corpus, mode, tool, floors in CHART:
        g = run.timed.get((corpus, mode))
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
    if not rows:  # BENCH_ONLY named a corpus that the chart does not show
        return
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
def main(argv):
    if len(argv) == 3 and argv[0] == 'drop':
        drop(argv[1], argv[2])
        return 0
    if len(argv) != 1:
        print('usage: bench/bench.py BUILD_DIR', file=sys.stderr)
        return 2
    configure(argv[0])
    check_programs()
    table, goals, run = read_table(), read_goals(), Results()
    try:
        return measure(table, goals, run)
    finally:
        if os.path.exists(spent) and os.listdir(spent):
            remove(spent)
        if SMOKE:
            shutil.rmtree(corpus_root, ignore_errors=True)


def measure(table, goals, run):
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
    there = sorted({r['name'].split('-')[0] for r in table if r['kind'] == 'peer'})
    left = [p for p in peers if p not in there and (not rows or any(r.split('-')[0] == p for r in rows))]
    say('peers: ' + (' '.join(there) or 'none') + ' (not there: ' + (' '.join(left) or 'none') + ')')
    say(f'modes: {" ".join(modes)}; every command handles {count} photographs (times are given per 1000), '
        f'the warm rows of chronel, jhead and the 4 KB floor {max(count, warm_names)} names')
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
        distinct = photos_in(dirs[corpus])[:distinct_counts[corpus]]
        take_back_filed(dirs[corpus])  # left by an interrupted run
        take_wavs(distinct, dirs[corpus], run)  # left by an interrupted run
        files = (distinct * (count // len(distinct) + 1))[:count]
        many = (distinct * (max(count, warm_names) // len(distinct) + 1))[:max(count, warm_names)]
        lists[corpus] = dict(distinct=distinct, files=files, few=files[:each_slow], many=many)
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
            res = run_set(plan(corpus, mode, lists[corpus], dirs[corpus], table), mode, f'{results}/{corpus}/{mode}', run)
            if mode == 'warm':
                say(f'   page cache held {cached_share(distinct, dirs[corpus]):.0f}% of the corpus after the runs '
                    '(fincore)')
            print_table(res, mode, f'{corpus}/{mode}', run)
            run.timed[corpus, mode] = {r['name']: r for r in res}
            say(f'   ({time.time() - t0:.0f} s)')
        a, b = count_runs[0], min(count_runs[1], len(distinct))
        say(f'\n-- {corpus} corpus, counters per photograph (photographs 1-{a} and 1-{b}, the difference)')
        t0 = time.time()
        run.counted[corpus] = counters(corpus, lists[corpus], dirs[corpus], f'{results}/{corpus}/counters', run, table)
        say(f'   ({time.time() - t0:.0f} s)')
    jpegs = [c for c in ('standard', 'large', 'camera') if c in names]
    if len(jpegs) == 3 and 'warm' in modes:  # chronel over as many photographs of each corpus, side by side
        cmds = []
        for corpus in jpegs:
            for row in table:
                if row['name'] in ('floor-4k', 'chronel'):
                    cmds.append(dict(row, name=f'{row["name"]}-{corpus}', label=f'{row["label"]}, {corpus}',
                                     files_kind='many', files=lists[corpus]['many'], argv=argv_of(row),
                                     cwd=dirs[corpus]))
        say(f'\n-- chronel over {len(lists["standard"]["many"])} names of each corpus, side by side (warm)')
        res = run_set(cmds, 'warm', results + '/sizes', run)
        for r in res:
            w, c = per_photo(r)
            say(f'   {r["label"]:36s} {w * 1e6:8.1f} us per photograph, CPU {c * 1e6:6.1f} us ({r["runs"]} runs)')
        run.timed['sizes', 'warm'] = {r['name']: r for r in res}
    say('\nload average at the end: ' + ' '.join(open('/proc/loadavg').read().split()[:3]))

    largest = {c: max(os.path.getsize(f'{dirs[c]}/{f}') for f in lists[c]['distinct']) for c in names}
    judge(run, goals, names, largest)
    if use_chart and names:
        chart(run, machine, date)
        say('\nchart: ' + shown(results + '/bench.svg') +
            (' (copied to bench/results.svg)' if os.environ.get('BENCH_SAVE_CHART') == '1' else ''))
    say('\n== Goals')
    for v in run.verdicts:
        say('   ' + v)
    say(f'   {sum(v.startswith("holds") for v in run.verdicts)} goals hold, '
        f'{sum(v.startswith("MISSED") for v in run.verdicts)} missed')
    if run.warned:
        say('   (see the warnings above: some outputs were not as expected)')
    say(f'benchmark time: {time.time() - begin:.0f} s')
    if SMOKE:
        want = [(c, m) for c in names for m in modes if not (c == 'heic' and m == 'each')]
        run.broken.extend(f'no results for {c}, {m}' for c, m in want if not run.timed.get((c, m)))
        run.broken.extend(f'no counters for {c}' for c in names if not run.counted.get(c))
        os.path.exists(results + '/bench.svg') or run.broken.append('no chart')
    for b in run.broken:
        say('bench: broken: ' + b)
    return 1 if run.broken else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
