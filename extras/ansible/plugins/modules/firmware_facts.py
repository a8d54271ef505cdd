#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: 2026 The Quorvane Upgrade developers
# Licensed under the Apache License, Version 2.0 (see LICENSE)

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
module: firmware_facts
short_description: Discover the device servers on the managed host's segment
version_added: 4.0.2
description:
  - Runs C(upgradectl --json discover) on the managed host and returns the devices that answered as the
    fact C(quorvane_firmware_devices).
  - With I(package), only the devices the package admits, in admission order.
options:
  package:
    description:
      - List only the devices this upgrade package (.upk) on the managed host admits
        (upgradectl C(discover --package)).
    type: path
  expect:
    description:
      - Fail when fewer devices are found, or admitted with I(package) (upgradectl C(--expect)).
    type: int
extends_documentation_fragment:
  - quorvane.firmware.upgradectl
attributes:
  check_mode:
    description: Discovery sends no programming request, so it runs in check mode as well.
    support: full
  diff_mode:
    description: Not supported.
    support: none
  facts:
    description: Sets C(quorvane_firmware_devices).
    support: full
seealso:
  - module: quorvane.firmware.firmware_upgrade
author:
  - Quorvane Upgrade Developers (@quorvane)
'''

EXAMPLES = r'''
- name: List the devices the package admits, at least 12
  quorvane.firmware.firmware_facts:
    package: /srv/firmware/qvn-4.1.0.upk
    expect: 12
    interface: eth1

- name: Show the firmware of each device
  ansible.builtin.debug:
    msg: "{{ item.mac }}: {{ item.firmware }}"
  loop: "{{ quorvane_firmware_devices }}"
'''

RETURN = r'''
ansible_facts:
  description: The facts set.
  returned: success
  type: dict
  contains:
    quorvane_firmware_devices:
      description:
        - One entry per device, with the keys of C(upgradectl discover --json) (C(name), C(mac), C(firmware), C(type),
          C(ip), C(vendorId), C(deviceId), C(productId), C(revisionId), C(duplicate_mac) when a MAC answered twice).
      returned: success
      type: list
      elements: dict
      sample:
        - name: Press Line 1
          mac: 02:00:00:00:00:01
          firmware: v QVN 4.0.2 01/01/15
          type: Single Serial (DB9)
          ip: 127.0.0.1
          vendorId: 5127
          deviceId: 28924
          productId: 257
          revisionId: 4
exit_code:
  description: upgradectl's exit status (0 found, 2 fewer devices than I(expect) or an invalid package).
  returned: always
  type: int
cmd:
  description: The upgradectl command line that ran.
  returned: always
  type: list
  elements: str
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.quorvane.firmware.plugins.module_utils.upgradectl import (
    CONNECTION_ARGUMENTS, CONNECTION_EXCLUSIVE, global_arguments, last_message, run_json, value_arguments)


def main():
    arguments = dict(package=dict(type='path'), expect=dict(type='int'))
    arguments.update(CONNECTION_ARGUMENTS)
    module = AnsibleModule(argument_spec=arguments, supports_check_mode=True, mutually_exclusive=CONNECTION_EXCLUSIVE)
    args = global_arguments(module) + ['discover']
    args += value_arguments(module.params, (('package', '--package'), ('expect', '--expect')))
    rc, devices, err = run_json(module, args)
    result = dict(changed=False, exit_code=rc, cmd=args)
    if rc != 0 or not isinstance(devices, list):
        module.fail_json(msg=last_message(err) or 'upgradectl wrote no device list', **result)
    module.exit_json(ansible_facts=dict(quorvane_firmware_devices=devices), **result)


if __name__ == '__main__':
    main()
