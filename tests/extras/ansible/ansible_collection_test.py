#!/usr/bin/env python3
"""The Ansible collection as a playbook uses it: ansible-doc renders both
modules, the example playbook passes a syntax check, and site.yml runs
against devsim on loopback in check mode (no programming request), for
real (every device upgraded, its memory the image) and against a device
whose LOAD_VERIFY fails (the task fails, naming that device).

    ansible_collection_test.py UPGRADECTL DEVSIM EXAMPLES_DIR COLLECTION_DIR [--second-run]

--second-run adds a second upgrade with skip_firmware, which must change
nothing and send no programming request. Exits 77 (skipped) without
ansible-playbook.
"""
import filecmp
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

ctl, sim, examples, collection = (os.path.abspath(path) for path in sys.argv[1:5])
second_run = "--second-run" in sys.argv[5:]
here = os.path.dirname(os.path.abspath(__file__))
image = os.path.join(examples, "firmware.bin")
macs = ["02:00:00:00:00:01", "02:00:00:00:00:02", "02:00:00:00:00:03"]
failures = []

if not shutil.which("ansible-playbook") or not shutil.which("ansible-doc"):
    print("ansible-core is not installed (scripts/setup installs it)")
    sys.exit(77)


def check(condition, what):
    if not condition:
        failures.append(what)


def start_sim(folder, *options):
    port_file = os.path.join(folder, "port")
    process = subprocess.Popen([sim, "--listen", "127.0.0.1:0", "--port-file", port_file, "--devices", "3",
                                "--log-file", os.path.join(folder, "devsim.log"),
                                "--dump-dir", os.path.join(folder, "dump"), *options],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(100):
        if os.path.exists(port_file) and open(port_file).read().strip():
            return process, open(port_file).read().strip()
        time.sleep(0.1)
    process.kill()
    sys.exit("devsim did not report its port")


def stop_sim(process):
    process.terminate()
    process.wait(timeout=10)


def requests(folder, skip=0):
    """The opcodes of the requests devsim logged, after the first skip lines."""
    with open(os.path.join(folder, "devsim.log")) as log:
        lines = log.read().splitlines()[skip:]
    return [line.split()[1] for line in lines if line.startswith("rx ")]


def log_length(folder):
    with open(os.path.join(folder, "devsim.log")) as log:
        return len(log.read().splitlines())


with tempfile.TemporaryDirectory() as top:
    # The collection where Ansible looks for quorvane.firmware, and a home,
    # temporary folders and history of the test's own.
    shutil.copytree(collection, os.path.join(top, "collections", "ansible_collections", "quorvane", "firmware"))
    os.mkdir(os.path.join(top, "home"))
    open(os.path.join(top, "ansible.cfg"), "w").close()
    env = dict(os.environ, HOME=os.path.join(top, "home"), ANSIBLE_CONFIG=os.path.join(top, "ansible.cfg"),
               ANSIBLE_COLLECTIONS_PATH=os.path.join(top, "collections"),
               ANSIBLE_LOCAL_TEMP=os.path.join(top, "local-tmp"), ANSIBLE_REMOTE_TEMP=os.path.join(top, "remote-tmp"),
               XDG_STATE_HOME=os.path.join(top, "state"), ANSIBLE_PYTHON_INTERPRETER="auto_silent",
               ANSIBLE_LOCALHOST_WARNING="false", ANSIBLE_NOCOLOR="1")

    def ansible(*args):
        return subprocess.run(list(args), env=env, cwd=top, capture_output=True, text=True, timeout=180)

    # ansible-doc: each module's page, with the options it documents.
    for module, options in (("firmware_facts", ["package", "expect", "broadcast", "upgradectl_path"]),
                            ("firmware_upgrade", ["macs", "all", "jobs", "expect", "canary", "max_failures",
                                                  "skip_firmware", "trusted_keys", "broadcast", "interface",
                                                  "port", "verify_timeout", "upgradectl_path"])):
        doc = ansible("ansible-doc", "quorvane.firmware." + module)
        check(doc.returncode == 0 and doc.stderr == "", module + ": ansible-doc exits 0 quietly: " + doc.stderr)
        check(doc.stdout.startswith("> QUORVANE.FIRMWARE." + module.upper()), module + ": ansible-doc's title")
        for option in options:
            check("\n- %s\n" % option in doc.stdout or "\n= %s\n" % option in doc.stdout,
                  module + ": ansible-doc shows " + option)

    example = os.path.join(collection, "playbooks")
    syntax = ansible("ansible-playbook", "--syntax-check", "-i", os.path.join(example, "inventory.ini"),
                     os.path.join(example, "rollout.yml"))
    check(syntax.returncode == 0, "the example playbook's syntax: " + syntax.stderr + syntax.stdout)

    package = os.path.join(top, "fw.upk")
    subprocess.run([ctl, "pack", package, "--script", os.path.join(examples, "program.cmd"), "--restrictions",
                    os.path.join(examples, "restriction.ini"), image], check=True, capture_output=True, timeout=30)

    def site(folder, port, *extra):
        """Runs site.yml; returns ansible-playbook's exit code and the
        registered results of its two tasks."""
        result_file = os.path.join(folder, "result.json")
        run = ansible("ansible-playbook", "-i", "localhost,", os.path.join(here, "site.yml"),
                      "-e", "upgradectl_path=" + ctl, "-e", "devsim_port=" + port, "-e", "package=" + package,
                      "-e", "result_file=" + result_file, *extra)
        with open(result_file) as results:
            registered = json.load(results)
        return run.returncode, registered["discovered"], registered["upgraded"], run.stdout + run.stderr

    def results(upgraded):
        return {device["mac"]: device["result"] for device in upgraded.get("devices", [])}

    # Check mode, then the real run, against the same three devices.
    folder = os.path.join(top, "fleet")
    os.mkdir(folder)
    simulator, port = start_sim(folder, "--firmware-after", "4.1.0 12/01/26")
    try:
        code, discovered, upgraded, output = site(folder, port, "--check")
        check(code == 0, "check mode exits 0: " + output)
        found = discovered["ansible_facts"]["quorvane_firmware_devices"]
        check(sorted(device["mac"] for device in found) == macs, "the facts list the three devices")
        check(upgraded["changed"] and upgraded["upgraded"] == 3, "check mode would change three devices")
        check(results(upgraded) == dict.fromkeys(macs, "planned"), "check mode plans every device")
        check(all(len(device.get("plan", [])) == 5 for device in upgraded["devices"]), "a plan of five script lines each")
        check(set(requests(folder)) == {"DISCOVER", "GET_INFO"},
              "check mode sends only DISCOVER and GET_INFO: %s" % sorted(set(requests(folder))))
        check("--dry-run" in upgraded["cmd"], "check mode runs upgradectl upgrade --dry-run")

        code, _, upgraded, output = site(folder, port)
        check(code == 0, "the first run exits 0: " + output)
        check(upgraded["changed"] and upgraded["upgraded"] == 3, "the first run changed three devices")
        check(results(upgraded) == dict.fromkeys(macs, "upgraded"), "every device upgraded")
        check(upgraded["failed_macs"] == [] and upgraded["exit_code"] == 0, "no device failed")

        if second_run:
            seen = log_length(folder)
            code, _, upgraded, output = site(folder, port, "-e", "skip_firmware=4.1.0")
            check(code == 0, "the second run exits 0: " + output)
            check(not upgraded["changed"] and upgraded["upgraded"] == 0, "the second run changes nothing")
            check(results(upgraded) == dict.fromkeys(macs, "current"), "every device current")
            check(set(requests(folder, seen)) <= {"DISCOVER", "GET_INFO"},
                  "the second run sends no programming request: %s" % sorted(set(requests(folder, seen))))
    finally:
        stop_sim(simulator)
    for mac in macs:
        dump = os.path.join(folder, "dump", mac.replace(":", "") + ".bin")
        check(os.path.exists(dump) and filecmp.cmp(dump, image, shallow=False), mac + ": memory holds the image")

    # One device whose LOAD_VERIFY reports a wrong checksum.
    folder = os.path.join(top, "failing")
    os.mkdir(folder)
    simulator, port = start_sim(folder, "--bad-checksum", "--fault-device", macs[1])
    try:
        code, _, upgraded, output = site(folder, port)
    finally:
        stop_sim(simulator)
    check(code == 2, "a failing device fails the play (exit 2): %d" % code)
    check(upgraded["failed"] and upgraded["exit_code"] == 1, "the upgrade task failed, upgradectl exit 1")
    check(results(upgraded) == {macs[0]: "upgraded", macs[1]: "failed", macs[2]: "upgraded"},
          "one device failed: %s" % results(upgraded))
    check(upgraded["failed_macs"] == [macs[1]], "failed_macs names it")
    check(upgraded["msg"].startswith(macs[1] + ": "), "the message names it: " + upgraded["msg"])

for failure in failures:
    print("FAILED:", failure)
sys.exit(1 if failures else 0)
