#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: 2026 The Quorvane Upgrade developers
# Licensed under the Apache License, Version 2.0 (see LICENSE)

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
module: firmware_upgrade
short_description: Upgrade the firmware of the device servers on the managed host's segment
version_added: 4.0.2
description:
  - Runs C(upgradectl --json upgrade PACKAGE --yes) on the managed host and reports each device's result.
  - C(--yes) confirms the package's configuration-loss warning, as nothing can be asked here.
  - The package's check, its signature, discovery, admission and the upgrade itself are upgradectl's;
    the module only builds its command line and reads its JSON report.
options:
  package:
    description:
      - The upgrade package (.upk) on the managed host. Its signature is looked for beside it
        (the package's name with C(.minisig) added).
    type: path
    required: true
  macs:
    description:
      - MAC addresses of the admitted devices to upgrade (one upgradectl C(--mac) each).
      - Exactly one of I(macs) and I(all) is given.
    type: list
    elements: str
  all:
    description:
      - Upgrade every device the package admits (upgradectl C(--all)).
    type: bool
    default: false
  jobs:
    description:
      - How many devices are upgraded at once (upgradectl C(--jobs)); 0 means all selected devices.
    type: int
  expect:
    description:
      - Fail before any programming request when fewer devices are admitted (upgradectl C(--expect)).
    type: int
  retries:
    description:
      - How often a failed run is retried on each device (upgradectl C(--retries)).
    type: int
  canary:
    description:
      - The first N selected devices run first; the others start only when every one of them was upgraded
        and came back (upgradectl C(--canary)).
    type: int
  max_failures:
    description:
      - Once this many devices have failed, N or a percentage C(P%) of the selected devices, no further
        device is started (upgradectl C(--max-failures)).
    type: str
  skip_firmware:
    description:
      - Devices whose firmware text, or its version number alone, already equals this are not touched and
        are reported as C(current) (upgradectl C(--skip-firmware)). With it a second run changes nothing.
    type: str
  verify_timeout:
    description:
      - How long a device may take to come back after its reset, in seconds (upgradectl C(--verify-timeout)).
    type: int
extends_documentation_fragment:
  - quorvane.firmware.upgradectl
attributes:
  check_mode:
    description: Runs C(upgradectl upgrade --dry-run), which sends no programming request and returns each device's plan.
    support: full
  diff_mode:
    description: Not supported.
    support: none
seealso:
  - module: quorvane.firmware.firmware_facts
author:
  - Quorvane Upgrade Developers (@quorvane)
'''

EXAMPLES = r'''
- name: Upgrade every admitted device of the site, the first one as a canary
  quorvane.firmware.firmware_upgrade:
    package: /srv/firmware/qvn-4.1.0.upk
    all: true
    jobs: 4
    expect: 12
    canary: 1
    max_failures: 10%
    skip_firmware: 4.1.0
    trusted_keys:
      - /etc/quorvane-upgrade/site.pub
    interface: eth1

- name: Upgrade two devices of the simulator on loopback
  quorvane.firmware.firmware_upgrade:
    package: /tmp/fw.upk
    macs:
      - 02:00:00:00:00:01
      - 02:00:00:00:00:02
    broadcast: 127.0.0.1
    port: 4101
  register: upgrade

- name: Show what each device ended with
  ansible.builtin.debug:
    msg: "{{ upgrade.devices | map(attribute='result') | list }}"
'''

RETURN = r'''
devices:
  description:
    - One entry per selected device, in selection order, with the keys of upgradectl's C(--json) report
      (C(mac), C(ok), C(attempts), C(sends), C(resends), C(timeouts), C(bytes), C(seconds), C(error) when it failed;
      in check mode C(plan), the script lines it would run).
    - C(result) is upgradectl's own, one of C(upgraded), C(failed), C(current) (already running
      C(skip_firmware), not touched) and C(not-started) (a canary failed or C(max_failures) was reached);
      from an upgradectl that gives none, C(upgraded) or C(failed); in check mode C(planned).
  returned: when upgradectl wrote its report
  type: list
  elements: dict
  sample:
    - mac: 02:00:00:00:00:01
      result: upgraded
      ok: true
      attempts: 1
      sends: 299
      resends: 0
      bytes: 60002
      seconds: 0.05
upgraded:
  description: How many devices were upgraded (in check mode, would be).
  returned: when upgradectl wrote its report
  type: int
  sample: 3
failed_macs:
  description: The MAC addresses of the devices that failed or did not come back.
  returned: when upgradectl wrote its report
  type: list
  elements: str
  sample: [02:00:00:00:00:02]
exit_code:
  description: upgradectl's exit status (0 all upgraded, 1 any failed, 2 usage or fewer devices than expected, 3 refused).
  returned: always
  type: int
  sample: 0
stop:
  description: Why upgradectl stopped early, C(none) when it did not.
  returned: when upgradectl wrote its report
  type: str
  sample: none
signature:
  description: The package's signature as upgradectl checked it (C(status), C(key_id), C(trusted_comment), C(reason)).
  returned: when upgradectl wrote its report
  type: dict
cmd:
  description: The upgradectl command line that ran.
  returned: always
  type: list
  elements: str
stderr:
  description: upgradectl's messages.
  returned: always
  type: str
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.quorvane.firmware.plugins.module_utils.upgradectl import (
    CONNECTION_ARGUMENTS, CONNECTION_EXCLUSIVE, global_arguments, last_message, run_json, value_arguments)

# Module option -> upgradectl upgrade option, given only when set.
UPGRADE_VALUES = (
    ('jobs', '--jobs'),
    ('expect', '--expect'),
    ('retries', '--retries'),
    ('canary', '--canary'),
    ('max_failures', '--max-failures'),
    ('skip_firmware', '--skip-firmware'),
    ('verify_timeout', '--verify-timeout'),
)


def upgrade_command(module):
    params = module.params
    args = global_arguments(module) + ['upgrade', params['package'], '--yes']
    if params['all']:
        args.append('--all')
    else:
        for mac in params['macs']:
            args += ['--mac', mac]
    args += value_arguments(params, UPGRADE_VALUES)
    if module.check_mode:
        args.append('--dry-run')
    return args


def device_result(device, dry_run):
    """upgradectl's result of the device, or the one its report implies."""
    if device.get('result'):
        return device['result']
    if dry_run:
        return 'planned'
    return 'upgraded' if device.get('ok') else 'failed'


def main():
    arguments = dict(
        package=dict(type='path', required=True),
        macs=dict(type='list', elements='str'),
        all=dict(type='bool', default=False),
        **{name: dict(type='int') for name in ('jobs', 'expect', 'retries', 'canary', 'verify_timeout')}
    )
    arguments.update(max_failures=dict(type='str'), skip_firmware=dict(type='str'))
    arguments.update(CONNECTION_ARGUMENTS)
    module = AnsibleModule(argument_spec=arguments, supports_check_mode=True,
                           mutually_exclusive=CONNECTION_EXCLUSIVE + [('macs', 'all')])
    if not module.params['all'] and not module.params['macs']:
        module.fail_json(msg='one of macs or all is required')

    args = upgrade_command(module)
    rc, report, err = run_json(module, args)
    result = dict(changed=False, exit_code=rc, cmd=args, stderr=err)
    if not isinstance(report, dict):
        module.fail_json(msg=last_message(err) or 'upgradectl wrote no report', **result)

    dry_run = bool(report.get('dryRun'))
    devices = report.get('devices', [])
    for device in devices:
        device['result'] = device_result(device, dry_run)
    done = 'planned' if dry_run else 'upgraded'
    failed = [d['mac'] for d in devices if d['result'] == 'failed']
    result.update(devices=devices, upgraded=sum(d['result'] == done for d in devices), failed_macs=failed,
                  stop=report.get('stop'), signature=report.get('signature'))
    result['changed'] = result['upgraded'] > 0
    if rc != 0 or failed:
        errors = ['%s: %s' % (d['mac'], d['error']) for d in devices if d['result'] == 'failed' and d.get('error')]
        module.fail_json(msg='; '.join(errors) or last_message(err), **result)
    module.exit_json(**result)


if __name__ == '__main__':
    main()
