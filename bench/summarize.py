#!/usr/bin/env python3
"""Turns the raw logs of bench/run.sh into the results table (Markdown on stdout).

Every figure is a median over the runs or repetitions; ratios are taken per
round (the two programs ran back to back under the same load) and their
median is given, next to the ratio of the medians."""
import glob
import json
import os
import re
import statistics
import sys

raw = sys.argv[1]
out = []


def say(line=""):
    out.append(line)


def median(values):
    values = [v for v in values if v is not None]
    return statistics.median(values) if values else None


def fmt(value, digits=2):
    return "-" if value is None else f"{value:.{digits}f}"


def read_runs():
    runs = {}
    lines = []
    for path in sorted(glob.glob(os.path.join(raw, "runs-*.log"))):
        lines += open(path).read().splitlines()
    for line in lines:
        fields = {}
        threads = []
        for token in line.split():
            if "=" not in token:
                continue
            key, value = token.split("=", 1)
            if key == "thread":
                tid, name, role, cpu, alive = value.rsplit(":", 4)
                threads.append({"name": name, "role": role, "cpu": float(cpu), "alive": float(alive)})
            else:
                fields[key] = value
        label = fields.get("label")
        if not label:
            continue
        run = runs.setdefault(label, {"threads": []})
        run.update(fields)
        run["threads"] += threads
    return runs


def num(run, key):
    try:
        return float(run[key])
    except (KeyError, ValueError, TypeError):
        return None


machine = {}
if os.path.exists(os.path.join(raw, "machine.txt")):
    for line in open(os.path.join(raw, "machine.txt")):
        key, _, value = line.strip().partition("=")
        machine[key] = value
say("# tolmar benchmark results")
say()
say(f"{machine.get('date', '-')}, commit {machine.get('commit', '-')}; {machine.get('nproc', '-')} CPUs "
    f"({machine.get('cpu', '-')}); Mesa {machine.get('mesa', '-')} (llvmpipe); SDL {machine.get('sdl', '-')}; "
    f"kernel {machine.get('kernel', '-')}; {machine.get('settings', '')}")
say()

# Frame cost.
bench_json = os.path.join(raw, "frame_bench.json")
if os.path.exists(bench_json):
    data = json.load(open(bench_json))
    rows = {}
    for b in data["benchmarks"]:
        if b.get("run_type") != "aggregate":
            continue
        name, arg = b["run_name"].split("/")
        row = rows.setdefault(int(arg), {})
        scale = {"ns": 1e-3, "us": 1.0, "ms": 1e3}[b["time_unit"]]
        if b["aggregate_name"] == "median":
            row[name] = b["cpu_time"] * scale
            row[name + "_counters"] = b
        elif b["aggregate_name"] == "cv":
            row[name + "_cv"] = b["cpu_time"]
    say("## Frame cost: renderFrame on the recording sink vs the sine floor")
    say()
    say("| progress | triangles | sines | renderFrame µs | floor µs | ratio | allocations/frame | cv render / floor |")
    say("|---|---|---|---|---|---|---|---|")
    ratios = []
    for arg in sorted(rows):
        row = rows[arg]
        render, floor = row.get("BM_renderFrame"), row.get("BM_sinFloor")
        ratio = render / floor if render and floor else None
        ratios.append(ratio)
        rc = row.get("BM_renderFrame_counters", {})
        fc = row.get("BM_sinFloor_counters", {})
        say(f"| {arg / 1000:.3f} | {int(rc.get('triangles', 0))} | {int(fc.get('sines', 0))} | {fmt(render)} | "
            f"{fmt(floor)} | {fmt(ratio)}× | {fmt(rc.get('allocs_per_frame'), 0)} | "
            f"{fmt(100 * row.get('BM_renderFrame_cv', 0), 1)}% / {fmt(100 * row.get('BM_sinFloor_cv', 0), 1)}% |")
    say()
    say(f"Median ratio over the progress values: **{fmt(median(ratios))}×** (target ≤ 1.5×).")
    say()

collected = {}
for mode in ("render", "floor"):
    err = os.path.join(raw, f"callgrind-{mode}.err")
    outp = os.path.join(raw, f"callgrind-{mode}.out")
    if os.path.exists(err) and os.path.exists(outp):
        m = re.search(r"Collected : (\d+)", open(err).read())
        info = dict(t.split("=", 1) for t in open(outp).read().split() if "=" in t)
        if m:
            collected[mode] = (int(m.group(1)) / int(info["frames"]), info)
if len(collected) == 2:
    r, f = collected["render"][0], collected["floor"][0]
    say("## Instructions per frame (callgrind, 200 frames over progress 0.15–0.99)")
    say()
    say("| | instructions/frame | ratio |")
    say("|---|---|---|")
    say(f"| renderFrame (incl. its sines and the sink) | {r:,.0f} | {r / f:.2f}× |")
    say(f"| sine floor | {f:,.0f} | 1.00× |")
    say()
    say(f"Allocations in those 200 frames: {collected['render'][1].get('allocations')} "
        f"(the counter saw {collected['render'][1].get('probe_allocations')} for one probe new/delete).")
    say()

runs = read_runs()

# Frames on screen.
sizes = sorted({label.split(":")[1] for label in runs if label.startswith("screen:")},
               key=lambda s: int(s.split("x")[0]))
if sizes:
    say("## Frames on screen (Xvfb, llvmpipe)")
    say()
    say("fps of the timeline frames; (a) clear-and-swap only, (b) the same triangles from vertex arrays. "
        "Ratios per round, then their median.")
    say()
    say("| size | rounds | tolmar fps | (b) GL floor fps | (a) present fps | tolmar / (b) | tolmar / (a) | "
        "tolmar lead-in fps | stalls |")
    say("|---|---|---|---|---|---|---|---|---|")
    for size in sizes:
        rounds = sorted({int(l.split(":")[3]) for l in runs if l.startswith(f"screen:{size}:")})
        get = lambda prog, key, r: num(runs.get(f"screen:{size}:{prog}:{r}", {}), key)
        t = [get("tolmar", "drawn_fps", r) for r in rounds]
        b = [get("array", "drawn_fps", r) for r in rounds]
        a = [get("present", "plain_fps", r) for r in rounds]
        lead = [get("tolmar", "plain_fps", r) for r in rounds]
        rb = [x / y for x, y in zip(t, b) if x and y]
        ra = [x / y for x, y in zip(t, a) if x and y]
        stalls = sum(int(get(p, "stalls", r) or 0) for p in ("tolmar", "array", "present") for r in rounds)
        say(f"| {size} | {len(rounds)} | {fmt(median(t), 1)} | {fmt(median(b), 1)} | {fmt(median(a), 1)} | "
            f"{fmt(median(rb), 3)} | {fmt(median(ra), 3)} | {fmt(median(lead), 1)} | {stalls} |")
    say()
    say("Peak memory (max RSS) over the same runs:")
    say()
    say("| size | tolmar MB | (b) GL floor MB | (a) minimal SDL2+GL MB | minimal + one textured triangle MB | "
        "tolmar − (a) MB | tolmar − (b) MB | tolmar − one triangle MB |")
    say("|---|---|---|---|---|---|---|---|")
    for size in sizes:
        rounds = sorted({int(l.split(":")[3]) for l in runs if l.startswith(f"screen:{size}:")})
        mb = lambda prog: median([num(runs.get(f"screen:{size}:{prog}:{r}", {}), "maxrss_kb") for r in rounds])
        t, b, a, one = mb("tolmar"), mb("array"), mb("present"), mb("triangle")
        conv = lambda kb: None if kb is None else kb / 1024
        diff = lambda x, y: conv(x - y) if x and y else None
        say(f"| {size} | {fmt(conv(t), 1)} | {fmt(conv(b), 1)} | {fmt(conv(a), 1)} | {fmt(conv(one), 1)} | "
            f"{fmt(diff(t, a), 1)} | {fmt(diff(t, b), 1)} | {fmt(diff(t, one), 1)} |")
    say()

# Start-up.
start = {l: r for l, r in runs.items() if l.startswith("startup:")}
if start:
    rounds = sorted({int(l.split(":")[3]) for l in start})
    size = next(iter(start)).split(":")[1]
    get = lambda prog, key, r: num(start.get(f"startup:{size}:{prog}:{r}", {}), key)
    t = [get("tolmar", "first_frame_ms", r) for r in rounds]
    a = [get("present", "first_frame_ms", r) for r in rounds]
    ratio = [x / y for x, y in zip(t, a) if x and y]
    tm = [get("tolmar", "maxrss_kb", r) for r in rounds]
    am = [get("present", "maxrss_kb", r) for r in rounds]
    tc = [get("tolmar", "first_frame_cpu_ms", r) for r in rounds]
    ac = [get("present", "first_frame_cpu_ms", r) for r in rounds]
    cpu_ratio = [x / y for x, y in zip(tc, ac) if x and y]
    least = lambda v: min((x for x in v if x), default=None)
    say(f"## Start-up: exec to the first presented frame ({size}, {len(rounds)} rounds, alternating)")
    say()
    say("| | wall median ms | wall min ms | CPU to first frame, median ms | max RSS at first frame MB |")
    say("|---|---|---|---|---|")
    say(f"| tolmar | {fmt(median(t), 1)} | {fmt(least(t), 1)} | {fmt(median(tc), 1)} | {fmt(median(tm) / 1024, 1)} |")
    say(f"| minimal SDL2+GL program | {fmt(median(a), 1)} | {fmt(least(a), 1)} | {fmt(median(ac), 1)} | "
        f"{fmt(median(am) / 1024, 1)} |")
    say()
    say(f"Wall ratio: median of per-round ratios **{fmt(median(ratio), 3)}×**, ratio of medians "
        f"{fmt(median(t) / median(a), 3)}×, ratio of minima {fmt(least(t) / least(a), 3)}× (target ≤ 1.1×). "
        f"CPU ratio: median of per-round ratios {fmt(median(cpu_ratio), 3)}×.")
    say()

# Audio.
audio = {l: r for l, r in runs.items() if l.startswith("audio:")}
if audio:
    run = next(iter(audio.values()))
    threads = run["threads"]
    main = next((t for t in threads if t["role"] == "main"), None)
    device = [t for t in threads if t["role"] == "audio-device"]
    decoder = [t for t in threads if t["role"] == "audio-decoder"]
    wall = main["alive"] if main else None
    say("## Audio over one full-length run (disk driver, real time, 1280x720)")
    say()
    say("| thread | CPU s | alive s | share of one core |")
    say("|---|---|---|---|")
    for t in device + decoder:
        say(f"| {t['name']} ({t['role']}) | {t['cpu']:.2f} | {t['alive']:.1f} | {100 * t['cpu'] / t['alive']:.3f}% |")
    total = sum(t["cpu"] for t in device + decoder)
    if wall:
        say(f"| both, over the whole run | {total:.2f} | {wall:.1f} | **{100 * total / wall:.3f}%** |")
        # The yardstick the reliability tests once held the audio threads to.
        say(f"| main thread (draws; for comparison) | {main['cpu']:.2f} | {wall:.1f} | {100 * main['cpu'] / wall:.3f}% |")
    say()
    say("All threads: " + ", ".join(f"{t['name']} {t['cpu']:.1f} s" for t in threads))
    say()
    say(f"Same run: {fmt(num(run, 'drawn_fps'), 1)} timeline fps, max RSS {fmt((num(run, 'maxrss_kb') or 0) / 1024, 1)} MB, "
        f"{run.get('stalls', '-')} stalls, longest frame {fmt(num(run, 'longest_drawn_gap_ms'), 1)} ms.")
    gaps = os.path.join(raw, "audio_gaps.txt")
    if os.path.exists(gaps):
        say()
        say("Disk output against a direct decode: `" + open(gaps).read().strip() + "`")
    say()

# Streaming.
stream = {l: r for l, r in runs.items() if l.startswith("stream:")}
if stream:
    peaks = {length: [num(r, "maxrss_kb") for l, r in stream.items() if l.split(":")[2] == length]
             for length in ("short", "long")}
    if peaks["short"] and peaks["long"]:
        short, long_ = median(peaks["short"]), median(peaks["long"])
        say("## Streaming: peak memory against the music file's length (whole runs, clock sped up)")
        say()
        say("| music file | runs | median max RSS MB |")
        say("|---|---|---|")
        say(f"| 4 s, 64 KB | {len(peaks['short'])} | {fmt(short / 1024, 1)} |")
        say(f"| 20 minutes, 19 MB | {len(peaks['long'])} | {fmt(long_ / 1024, 1)} |")
        say()
        say(f"Difference: **{fmt((long_ - short) / 1024, 2)} MB** (a library that read the file whole would add "
            f"19 MB, one that decoded it whole over 400 MB).")
        say()

# Picture fitter.
fits = []
for d in glob.glob(os.path.join(raw, "fit-*")):
    parts = os.path.basename(d).split("-")
    candidates, moves = ("default", "default") if parts[1] == "default" else (parts[1], parts[2])
    info = {}
    for name in ("time.txt", "report.txt"):
        p = os.path.join(d, name)
        if os.path.exists(p):
            text = open(p).read()
            info.update(dict(t.split("=", 1) for t in text.split() if re.match(r"^[a-z_]+=", t)))
            m = re.search(r"SSIM min ([\d.]+) median ([\d.]+); PSNR min ([\d.]+) median ([\d.]+) dB; "
                          r"black max ([\d.]+)% median ([\d.]+)%", text)
            if m:
                info["window"] = m.groups()
            m = re.search(r"whole table: SSIM ([\d.]+), PSNR ([\d.]+)", text)
            if m:
                info["whole"] = m.groups()
    order = 10 ** 9 if candidates == "default" else int(candidates)
    fits.append((order, candidates, moves, info))
if fits:
    say("## Picture fitter, 2 threads, seed 1")
    say()
    say("| candidates | moves | wall s | max RSS MB | window SSIM min / median | window PSNR min / median dB | "
        "black max % | whole SSIM | same tables as committed |")
    say("|---|---|---|---|---|---|---|---|---|")
    for _, candidates, moves, info in sorted(fits, key=lambda f: f[0]):
        w = info.get("window", ("-",) * 6)
        whole = info.get("whole", ("-", "-"))
        rss = info.get("maxrss_kb")
        say(f"| {candidates} | {moves} | {info.get('wall_s', '-')} | {fmt(int(rss) / 1024, 0) if rss else '-'} | "
            f"{w[0]} / {w[1]} | {w[2]} / {w[3]} | {w[4]} | {whole[0]} | "
            f"{'yes' if info.get('same_as_committed') == '1' else 'no'} |")
    say()

print("\n".join(out))
