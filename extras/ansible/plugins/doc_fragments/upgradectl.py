# -*- coding: utf-8 -*-
# Copyright: 2026 The Quorvane Upgrade developers
# Licensed under the Apache License, Version 2.0 (see LICENSE)

# The options both modules pass to upgradectl before its subcommand,
# documented once.

from __future__ import absolute_import, division, print_function
__metaclass__ = type


class ModuleDocFragment(object):
    DOCUMENTATION = r'''
options:
  upgradectl_path:
    description:
      - The upgradectl program on the managed host, a name looked up in C(PATH) or a path.
    type: str
    default: upgradectl
  broadcast:
    description:
      - Address that receives the device requests (upgradectl C(--broadcast)); C(127.0.0.1) for the simulator devsim.
      - upgradectl's default is C(255.255.255.255), sent by whichever interface the system chooses.
    type: str
  interface:
    description:
      - Send to the broadcast address of this IPv4 interface of the managed host, from its own address
        (upgradectl C(--interface)).
    type: str
  port:
    description:
      - Destination UDP port of the device requests (upgradectl C(--port)); upgradectl's default is 4101.
    type: int
  wait_ms:
    description:
      - How long one receive waits for a reply, in milliseconds (upgradectl C(--wait-ms)).
    type: int
  trusted_keys:
    description:
      - Minisign public key files on the managed host to trust besides the installed ones
        (one upgradectl C(--trusted-key) each).
    type: list
    elements: path
    default: []
  allow_unsigned:
    description:
      - Use an unsigned package although trusted keys are installed (upgradectl C(--allow-unsigned));
        a bad signature is still refused.
    type: bool
    default: false
requirements:
  - upgradectl on the managed host, which must be on the devices' network segment.
notes:
  - Devices are reached by UDP broadcasts, which routers do not forward; run the modules on a host of
    each segment, one inventory host per site.
'''
