#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: 2026 Veltrano

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: talvor_firmware
short_description: Brings the site's hub units (or their TAPs) to a firmware version
version_added: 0.1.0
description:
  - Updates the firmware of the site's units, or of their TAPs of a TAP class, from an image on the site host with
    C(talvorctl firmware).
  - With I(target_version), a unit that already reports that version is left alone (C(unchanged)), so running the task
    again flashes nothing.
  - With I(verify), each updated unit is awaited and read again, and a unit that comes back with another version fails.
author:
  - Talvor Manager maintainers (talvor-manager@example.org)
extends_documentation_fragment:
  - quillon.talvor.talvorctl
  - quillon.talvor.talvorctl.batch
  - ansible.builtin.action_common_attributes
attributes:
  check_mode:
    support: full
    details:
      - Runs C(talvorctl --dry-run), which checks the image, logs in and reads the versions but sends nothing, and
        says per unit whether it would flash it.
  diff_mode:
    support: none
  platform:
    platforms: posix
options:
  image:
    description:
      - The firmware image, a file on the site host (copy it there first).
    type: path
    required: true
  target_version:
    description:
      - The version the image installs, such as C(0.65.0). Images carry no version of their own, so without it every
        target is flashed on every run.
    type: str
  verify:
    description:
      - Wait for each updated unit to answer again and read its version; with I(target_version), a unit that reports
        another one fails.
    type: bool
    default: false
  verify_timeout:
    description:
      - Seconds to wait for the units to answer again with I(verify) (C(talvorctl)'s own limit when not given).
    type: int
'''

EXAMPLES = r'''
- name: Copy the image to the site host
  ansible.builtin.copy:
    src: images/talvor-0.65.0.bin
    dest: /var/lib/talvor/talvor-0.65.0.bin
    mode: "0644"

- name: Bring every unit to 0.65.0 and verify it
  quillon.talvor.talvor_firmware:
    image: /var/lib/talvor/talvor-0.65.0.bin
    target_version: 0.65.0
    verify: true
    password: "{{ talvor_password }}"
    lists: [/etc/talvor/site.txt]
    parallel: 16

- name: Update the Rail Module TAPs of two units
  quillon.talvor.talvor_firmware:
    image: /var/lib/talvor/rail-module.bin
    class_name: Rail Module
    password: "{{ talvor_password }}"
    targets: [10.20.0.11, 10.20.0.12]
'''

RETURN = r'''
units:
  description: Each unit's result, as C(talvorctl --json firmware) reports it.
  returned: always
  type: list
  elements: dict
  contains:
    address:
      description: The unit's address.
      type: str
    serial:
      description: Its serial number.
      type: str
    status:
      description: C(ok), C(unchanged), C(failed), C(cancelled), C(skipped) or C(duplicate).
      type: str
      sample: unchanged
    changed:
      description: Whether the unit was flashed.
      type: bool
    would_change:
      description: In check mode, whether it would be flashed.
      type: bool
    reason:
      description: What happened, or why not.
      type: str
      sample: "unchanged: already runs v0.65.0"
    plan:
      description: In check mode, what would be done.
      type: str
      sample: "would flash: runs v0.64.2, target v0.65.0"
    version_before:
      description: The version it reported before.
      type: str
    version_after:
      description: The version it reported after (with I(verify)).
      type: str
changed_units:
  description: Addresses of the units flashed (in check mode, those that would be).
  returned: always
  type: list
  elements: str
failed_units:
  description: Addresses of the units that failed or were cancelled.
  returned: always
  type: list
  elements: str
cmd:
  description: The C(talvorctl) command run (it holds no password).
  returned: always
  type: str
rc:
  description: Its exit status.
  returned: always
  type: int
dry_run:
  description: Whether it was a dry run (check mode).
  returned: always
  type: bool
'''

from ansible_collections.quillon.talvor.plugins.module_utils.talvorctl import (
    batch_module, run_batch)


def main():
    """Runs talvorctl firmware with the options asked for."""
    module = batch_module(
        image=dict(type='path', required=True),
        target_version=dict(type='str'),
        verify=dict(type='bool', default=False),
        verify_timeout=dict(type='int'),
    )
    p = module.params
    switches = []
    if p['target_version']:
        switches += ['--target-version', p['target_version']]
    if p['verify']:
        switches.append('--verify')
    if p['verify_timeout'] is not None:
        switches += ['--verify-timeout', str(p['verify_timeout'])]
    run_batch(module, 'firmware', [p['image']], switches)


if __name__ == '__main__':
    main()
