# -*- coding: utf-8 -*-
# Copyright: 2026 The Quorvane Upgrade developers
# Licensed under the Apache License, Version 2.0 (see LICENSE)

# What both modules share: the options upgradectl takes before its
# subcommand, and one run of upgradectl with --json. The modules only
# build command lines and read the JSON; the devices are upgradectl's.

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import json

CONNECTION_ARGUMENTS = dict(
    upgradectl_path=dict(type='str', default='upgradectl'),
    broadcast=dict(type='str'),
    interface=dict(type='str'),
    port=dict(type='int'),
    wait_ms=dict(type='int'),
    trusted_keys=dict(type='list', elements='path', default=[], no_log=False),
    allow_unsigned=dict(type='bool', default=False),
)
CONNECTION_EXCLUSIVE = [('broadcast', 'interface')]

# Module option -> upgradectl option, for the ones that take a value and
# are given only when set.
_GLOBAL_VALUES = (
    ('broadcast', '--broadcast'),
    ('interface', '--interface'),
    ('port', '--port'),
    ('wait_ms', '--wait-ms'),
)


def value_arguments(params, table):
    """The options of table whose parameter is set, each with its value."""
    args = []
    for name, flag in table:
        if params.get(name) is not None:
            args += [flag, str(params[name])]
    return args


def global_arguments(module):
    """upgradectl and the options before its subcommand, --json among them."""
    params = module.params
    program = params['upgradectl_path']
    if '/' not in program:
        program = module.get_bin_path(program, required=True)
    args = [program, '--json'] + value_arguments(params, _GLOBAL_VALUES)
    for key in params['trusted_keys']:
        args += ['--trusted-key', key]
    if params['allow_unsigned']:
        args.append('--allow-unsigned')
    return args


def run_json(module, args):
    """Runs upgradectl; returns its exit code, its JSON output (None when
    stdout held none) and stderr, where its messages go."""
    rc, out, err = module.run_command(args)
    try:
        report = json.loads(out) if out.strip() else None
    except ValueError:
        report = None
    return rc, report, err


def last_message(err):
    """The last line upgradectl wrote on stderr, which says why it stopped."""
    lines = [line for line in err.splitlines() if line.strip()]
    return lines[-1] if lines else ''
