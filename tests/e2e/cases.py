#!/usr/bin/env python3
"""End-to-end cases of the built tools, read from case files and checked whole (the README tells
the case format).   usage: cases.py [--wine] [--sanitized] BINDIR FILE.cases...
"""
import codecs, ctypes, fcntl, os, pathlib, resource, shlex, signal, stat, struct, subprocess, sys, tempfile, termios, threading, time

wine, sanitized = "--wine" in sys.argv, "--sanitized" in sys.argv
bindir, *case_files = [os.path.abspath(a) for a in sys.argv[1:] if not a.startswith("--")]
os.environ.setdefault("WINEDEBUG", "-all")  # wine says nothing of its own
ACL = "system.posix_acl_access"
libc, ADDR_NO_RANDOMIZE = ctypes.CDLL(None), 0x0040000
SETUP = {"dir": lambda n: os.mkdir(n), "link": lambda n, t: os.symlink(t, n), "hardlink": lambda n, f: os.link(f, n),
         "chmod": lambda n, m: os.chmod(n, int(m, 8)), "chown": lambda n, o: os.chown(n, *map(int, o.split(":"))),
         "fifo": os.mkfifo, "rename": os.rename, "tmpfs": lambda n, options: os.mkdir(n) or subprocess.run(
             ["mount", "-t", "tmpfs", "-o", options, "tmpfs", n], capture_output=True).returncode
         and "can't mount a tmpfs here", "chattr": lambda n, flags: subprocess.run(["chattr", flags, n], capture_output=True).returncode
         and "can't set file attributes here", "acl": lambda n, uid, count="1", kind="access": os.setxattr(n, "system.posix_acl_" + kind, struct.pack(  # rwx the owner, rw users from uid, r-x the mask, others
             "<IHHI" + "HHI" * (int(count) + 3), 2, 1, 7, ~0 & 0xFFFFFFFF, *sum(([2, 6, int(uid) + i] for i in range(int(count))), []),
             4, 4, 0xFFFFFFFF, 0x10, 5, 0xFFFFFFFF, 0x20, 5, 0xFFFFFFFF)), "chain": lambda n, count, target: [os.symlink(  # count links to target
             f"{n}{i + 1}" if i + 1 < int(count) else target, f"{n}{i}" if i else n) for i in range(int(count))] and None, "device": lambda n, number: subprocess.run(  # a look-alike, never /dev's
             ["mknod", "-m", "666", n, "c", *number.split(":")], capture_output=True).returncode and "can't make a device here"}


unescape = lambda text: codecs.escape_decode(text.encode())[0]  # noqa: E731


def srec(kind, address, data=b""):  # a record with its count and checksum right
    body = bytes([{2: 3, 3: 4}.get(kind, 2) + len(data) + 1]) + address.to_bytes({2: 3, 3: 4}.get(kind, 2), "big") + data
    return "S%d%s%02X\n" % (kind, body.hex().upper(), ~sum(body) & 255)


def value(expr):
    data = eval(expr, {"__builtins__": {}, "range": range, "wine": wine, "srec": srec})  # case files are trusted test data
    return data.encode() if isinstance(data, str) else data


def parse(path):
    cases, defaults = [], dict(run=[], steps=[], expect={}, status=0, keep=[], meanwhile=[], limits=[])
    case = defaults
    for line in open(path, encoding="utf-8").read().splitlines():
        word, _, rest = line[1:].partition(" ")
        name, eq, expr = rest.partition(" = ")
        name = value(name[1:-1]).decode() if name[:1] == "{" else name
        if line.startswith("|"):
            block.append(unescape(line[1:]) + b"\n")
        elif word == "case":
            cases.append(case := {**defaults, "name": rest, "run": None, "steps": list(defaults["steps"]),
                                  "expect": dict(defaults["expect"]), "keep": list(defaults["keep"]), "meanwhile": [], "limits": []})
        elif word in ("expect", "file"):
            block = [value(expr)] if eq else []
            case["expect"].update({name: block}) if word == "expect" else case["steps"].append(("file", name, block))
        elif word == "run":  # a case's own runs replace those of its file
            case["run"] = (case["run"] or []) + [[value(w[1:-1]) if w[:1] == "{" else unescape(w) for w in shlex.split(rest)]]
        elif word in ("fails", "usage"):  # status 1 or 2, and what goes to stdout (or stderr)
            case["status"], case["expect"]["stderr" if rest[:7] == "stderr " else "stdout"] = 1 + (word == "usage"), [value(rest.removeprefix("stderr "))]
        elif word == "status":
            case["status"] = int(rest) if rest.isdigit() else -signal.Signals[rest]
        elif word in ("meanwhile", "limit"):
            case[word.replace("limit", "limits")].append(tuple(shlex.split(rest)))
        elif word == "keep":
            case["keep"] += [value(w[1:-1]).decode() if w[:1] == "{" else w for w in shlex.split(rest)]
        elif word in SETUP:
            case["steps"].append((word, *shlex.split(rest)))
        elif line.startswith("@"):
            case[word] = rest
    return [{**c, "run": c["run"] or defaults["run"]} for c in cases]


def snapshot():
    """Each entry under the current folder: kind, link target, inode, links, mode, owner, group, access list."""
    entries = {}
    for top, dirs, files in os.walk("."):
        for path in (os.path.normpath(os.path.join(top, e)) for e in dirs + files):
            s = os.lstat(path)
            link = os.readlink(path) if stat.S_ISLNK(s.st_mode) else None
            acl = ACL in os.listxattr(path, follow_symlinks=False) and os.getxattr(path, ACL, follow_symlinks=False)
            entries[path] = (stat.S_IFMT(s.st_mode), link, s.st_ino, s.st_nlink, s.st_mode & 0o7777, s.st_uid, s.st_gid, acl)
    return entries


def startup(command):
    """The least address space in which the tool starts (prints its version), and 128 KiB more."""
    low, high = 1 << 20, 256 << 20
    while high - low > 16 << 10:
        middle = (low + high) // 2
        limit = lambda: resource.setrlimit(resource.RLIMIT_AS, (middle, middle))  # noqa: E731
        works = subprocess.run(command[:1] + ["--version"], capture_output=True, preexec_fn=limit).returncode == 0
        low, high = (low, middle) if works else (middle, high)
    return high + (128 << 10)


def run(case, words, std, signal_name=None):
    """One run in the current folder: what differs, or why it can't run here."""
    expect = {k: b"".join(v).replace(b"\n", b"\r\n" if wine else b"\n")
              for k, v in {"stdout": [], "stderr": [], **case["expect"]}.items()}
    fed = case.get("pause")
    captured, readers, faults = {}, {}, []
    for word, name, *args in case["steps"]:
        if word == "file":
            os.mkfifo(name) if name == fed else open(name, "wb").write(b"".join(args[0]))
        elif why := SETUP[word](name, *args):
            return why
        if word == "fifo":
            readers[name] = threading.Thread(target=lambda n=name: captured.update({n: open(n, "rb").read()}))
            readers[name].start()
    before = snapshot()
    expect.update({name: open(name, "rb").read() for name in case["keep"]})
    quiet = "stdout" in case or "close" in case  # stdout goes elsewhere

    def compare(when, names=None):
        for name, want in ((n, w) for n, w in expect.items() if names is None or n in names):
            path = f"{std}.{name}" if name in ("stdout", "stderr") else name
            got = captured.get(name) if name in readers else open(path, "rb").read() if os.path.exists(path) else None
            if got != want and not (name == "stdout" and (quiet or when)):
                shown = repr(got if got is None or len(got) < 300 else got[:200] + b"...")
                faults.append(f"{name}{when}: {shown} ({len(got or '')} bytes), expected {repr(want[:200])}")

    command = ["wine"] * wine + [os.path.join(bindir, words[0].decode() + ".exe" * wine)] + words[1:]
    environment = dict(os.environ)
    if "swap" in case or "hook" in case:  # another user renames a file right after the tool opens a name, or the system fails
        if wine or sanitized or not os.path.exists(os.path.join(bindir, "swap.so")):
            return "the swap is preloaded into native tools built with the tests, without sanitizers"
        when, source, target = case.get("swap", "- - -").split()
        environment.update(dict(w.split("=") for w in case.get("hook", "").split()), LD_PRELOAD=os.path.join(bindir, "swap.so"), SWAP_WHEN=when, SWAP_FROM=source, SWAP_TO=target)
        before.update({target: before.pop(source)} if source in before else {})
    if "maxrss" in case:  # measured by a small process: a child of this one starts as large
        command = ["/usr/bin/time", "-f", "%M", "-o", std + ".rss"] + command
    with open(case.get("stdout", std + ".stdout"), "wb") as out, open(std + ".stderr", "wb") as err:
        user, *groups = map(int, case["user"].split()) if "user" in case else [None]
        ignored = [signal.Signals[name] for name in case.get("ignored", "").split()]
        limits = [(getattr(resource, "RLIMIT_" + name), int(value) if value.isdigit() else startup(command)) for name, value in case["limits"]]
        if sanitized and {"AS", "STACK"} & set(dict(case["limits"])):
            return "the sanitizers need more address space and stack"
        # A stack limit is met in its worst case, every run alike: the kernel starts the stack up
        # to 8 KiB below its top at random, so the run gets half the limit and no random start,
        # with no more environment than it needs; and binds its runtime at once, as the release
        # tools do.
        small_stack = "STACK" in dict(case["limits"])
        environment = {"LD_BIND_NOW": "1", **{k: v for k, v in environment.items() if k not in os.environ}} if small_stack else environment
        limits = [(r, v // 2 if r == resource.RLIMIT_STACK else v) for r, v in limits]
        name, _, shared = case.get("locked", "").partition(" ")
        locked = name and open(name, "rb")
        held = locked and locked.read()
        locked and fcntl.flock(locked, fcntl.LOCK_SH if shared else fcntl.LOCK_EX)
        tool = subprocess.Popen(command, stdin=open(case["stdin"], "rb") if "stdin" in case else subprocess.DEVNULL, stdout=out, stderr=err, preexec_fn=lambda: [os.close(int(fd)) for fd in case.get("close", "").split()]
                                + [signal.signal(s, signal.SIG_IGN) for s in ignored] + [small_stack and libc.personality(ADDR_NO_RANDOMIZE)]
                                + [resource.setrlimit(r, (v, v)) for r, v in limits],
                                user=user, group=user, extra_groups=groups if user else None, umask=0o022, env=environment)
        if locked:  # the tool must wait for the lock, the output untouched, until it is let go or a signal comes
            deadline = time.time() + (0.5 if wine else 10)
            while time.time() < deadline and (wine or open(f"/proc/{tool.pid}/syscall").read().split()[0] != "73"):  # flock
                time.sleep(0.01)
            if tool.poll() is not None or open(name, "rb").read() != held:
                faults.append("the output changed while another held its lock")
            signal_name and not fed and tool.send_signal(signal.Signals[signal_name])
            locked.close()
        if fed:
            with open(fed, "wb", buffering=0) as fifo:
                data = b"".join(next(s[2] for s in case["steps"] if s[1] == fed))
                fifo.write(data[: len(data) // 2])
                deadline = time.time() + 10  # until the tool has read its input, which it does once its outputs are made
                while time.time() < deadline and struct.unpack("i", fcntl.ioctl(fifo, termios.FIONREAD, b"1234"))[0]:
                    time.sleep(0.01)
                signal_name and compare(" while the tool runs", case["keep"])
                faults.extend(f"{name}: a temporary file that is not hidden, or open to others" for name in os.listdir(".")
                              if name not in before and (name[0] != "." or os.stat(name).st_mode & 0o77))
                for word, name, *args in case["meanwhile"]:  # another user's doings; what they change is theirs
                    SETUP[word](name, *args)
                    before.update({p: v for p, v in snapshot().items() if p in (name, *args)})
                    [before.pop(p) for p in (name, *args) if not os.path.lexists(p)]
                for number in ignored + ([signal.Signals[signal_name]] if signal_name else []):  # ignored ones first, which change nothing
                    tool.send_signal(number)
                if not signal_name:
                    fifo.write(data[len(data) // 2:])
        status = tool.wait(timeout=60)
    for name, reader in readers.items():
        if reader.is_alive():  # the tool never opened it: let the reader end
            os.close(os.open(name, os.O_WRONLY | os.O_NONBLOCK))
        reader.join()
    wanted = -signal.Signals[signal_name] if signal_name else case["status"]
    if status != wanted:
        faults.append(f"status {status}, expected {wanted}")
    if "maxrss" in case and not sanitized and (peak := int(open(std + ".rss").read().split()[-1])) > int(case["maxrss"]):
        faults.append(f"peak memory {peak} KiB, over {case['maxrss']}")
    compare("")
    after = snapshot()
    owned = {n: tuple(map(int, o.split(":"))) for n, o in [case["owned"].split()]} if "owned" in case else {}  # an owner and group expected
    for path, old in before.items():
        new = after.pop(path, None)
        # Only a plain file of one link may be replaced by another.
        if new is None or old[:2] != new[:2] or ((old[0] != stat.S_IFREG or old[3] > 1) and old[2:4] != new[2:4]):
            faults.append(f"{path} was {'removed' if new is None else 'replaced'}")
        elif not wine and (old[:5] + owned[path] + old[7:] if path in owned else old)[4:] != new[4:]:
            faults.append(f"{path}: mode, owner and group {old[4:]} became {new[4:]}")
    for path, new in after.items():
        if path not in expect or (not wine and new[4] != 0o644):
            faults.append(f"{path} was left behind" if path not in expect else f"{path} has mode {new[4]:o}")
    return faults


def main():
    results = []  # as root, in a mount namespace of its own, so a runner that is killed leaves no mount behind
    os.getuid() == 0 and libc.unshare(0x20000) == 0 and subprocess.run(["mount", "--make-rprivate", "/"])
    for case in (c for path in case_files for c in parse(path)):
        skip = case.get("only", "").partition(": ")[2] if wine else None
        if "user" in case and not skip:  # and that user must reach the tools through every folder
            hidden = not all(os.stat(d).st_mode & 1 for d in [bindir, *pathlib.Path(bindir).parents])
            skip = "only root can run the tool as another user" if os.getuid() else hidden and "others can't reach the tools"
        faults = []
        for words, signal_name in [(w, s) for w in case["run"] * (not skip) for s in case.get("signal", "").split() or [None]]:
            with tempfile.TemporaryDirectory() as work:
                os.chmod(work, 0o755)
                os.mkdir(folder := os.path.join(work, "case"))
                os.chdir(folder)
                try:
                    found = run(case, words, os.path.join(work, "std"), signal_name)
                finally:
                    [subprocess.run(["chattr", "-ai", s[1]]) for s in case["steps"] if s[0] == "chattr"]
                    os.chdir(work)
                    [subprocess.run(["umount", os.path.join(folder, s[1])]) for s in case["steps"] if s[0] == "tmpfs"]
            if isinstance(found, str):
                skip = found
                break
            faults += [f"{b' '.join(words).decode(errors='replace')}{' ' + signal_name if signal_name else ''}: {fault}" for fault in found]
        for line in [f"SKIP: {case['name']}: {skip}"] * bool(skip) + [f"FAIL: {case['name']}: {f}" for f in faults]:
            print(line)
        results.append(not faults)
    print(f"{results.count(True)} passed, {results.count(False)} failed")
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
