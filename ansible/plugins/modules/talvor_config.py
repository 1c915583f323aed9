#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: 2026 Veltrano

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: talvor_config
short_description: Backs up the site's unit configurations, or brings them to a configuration file
version_added: 0.1.0
description:
  - With I(backup_folder), saves each unit's configuration into that folder on the site host, named after its serial
    (C(talvorctl download-config --folder)). A backup changes no unit, so it never reports C(changed).
  - With I(src), compares each unit's configuration with that file over the chosen categories and uploads it only to
    the units that differ (C(talvorctl upload-config --only-if-different)); the others are C(unchanged).
  - In check mode with I(src), nothing is uploaded and each unit says which categories and keys would change, which
    makes a drift report against a site's golden configuration; diff mode shows those keys with both values.
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
      - Runs C(talvorctl --dry-run), which reads every unit's configuration but uploads nothing and writes no backup.
  diff_mode:
    support: full
    details:
      - "With I(src), one diff per unit that differs, a line per key that differs, C(CATEGORY: /JSON/POINTER = VALUE)
        (the category when the unit names it; the value as JSON text)."
  platform:
    platforms: posix
options:
  backup_folder:
    description:
      - A folder on the site host to save each unit's configuration in, made when missing. A name already taken there
        gets a number, so earlier backups stay.
      - Exactly one of I(backup_folder) and I(src) is needed.
    type: path
  src:
    description:
      - A configuration file (C(.cfg)) on the site host to bring the units to.
    type: path
  categories:
    description:
      - The configuration categories to compare and upload, such as C(Network); every category all units offer when
        not given.
    type: list
    elements: str
'''

EXAMPLES = r'''
- name: Back up every unit's configuration first
  quillon.talvor.talvor_config:
    backup_folder: /var/backups/talvor/{{ ansible_date_time.date }}
    password: "{{ talvor_password }}"
    lists: [/etc/talvor/site.txt]

- name: Report drift from the golden configuration
  quillon.talvor.talvor_config:
    src: /etc/talvor/golden.cfg
    categories: [Network, Logs]
    password: "{{ talvor_password }}"
    lists: [/etc/talvor/site.txt]
  check_mode: true
  diff: true
  register: drift

- name: Bring the Network category to the golden configuration
  quillon.talvor.talvor_config:
    src: /etc/talvor/golden.cfg
    categories: [Network]
    password: "{{ talvor_password }}"
    lists: [/etc/talvor/site.txt]
'''

RETURN = r'''
units:
  description: Each unit's result, as C(talvorctl --json) reports it.
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
    changed:
      description: Whether a configuration was uploaded to the unit.
      type: bool
    would_change:
      description: In check mode, whether one would be.
      type: bool
    reason:
      description: What happened, or why not.
      type: str
    plan:
      description: In check mode, what would be done.
      type: str
      sample: "would change categories Network, Logs: 3 keys differ"
    file:
      description: With I(backup_folder), the backup file written for the unit.
      type: str
    differences:
      description: With I(src), the keys that differ, each with C(category) (null when the unit does not say), C(path)
        (a JSON Pointer) and the C(unit)'s and the C(file)'s values as JSON text (null when one lacks the key).
      type: list
      elements: dict
backup_files:
  description: With I(backup_folder), the files written, by unit address.
  returned: success
  type: dict
  sample: {"10.20.0.11": "/var/backups/talvor/TLV123456789.CFG"}
changed_units:
  description: Addresses of the units a configuration was uploaded to (in check mode, those it would be).
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

import json
import os

from ansible.module_utils.basic import AnsibleModule
from ansible.module_utils.common.text.converters import to_native
from ansible_collections.quillon.talvor.plugins.module_utils.talvorctl import (
    BATCH_ARGS, REQUIRED_ONE_OF, batch_result, finish, run_talvorctl, unit_name)


def shown_value(value):
    """A key's value as talvorctl gives it, JSON text; anything else as JSON."""
    return value if isinstance(value, str) else json.dumps(value, sort_keys=True)


def unit_diff(unit):
    """The diff of one unit: its keys as they are (before) and as the file
    has them (after), one line each: the key's JSON Pointer (after its
    category, when the unit says which) = its value as JSON text."""
    before, after = [], []
    for d in unit.get('differences') or []:
        key = d.get('path') or ''
        if d.get('category'):
            key = '%s: %s' % (d.get('category'), key)
        if d.get('unit') is not None:
            before.append('%s = %s\n' % (key, shown_value(d.get('unit'))))
        if d.get('file') is not None:
            after.append('%s = %s\n' % (key, shown_value(d.get('file'))))
    name = unit_name(unit)
    return dict(before_header='%s (unit)' % name, after_header='%s (file)' % name,
                before=''.join(before), after=''.join(after))


def main():
    """Backs up the configurations, or brings the units to a file."""
    module = AnsibleModule(
        argument_spec=dict(
            BATCH_ARGS,
            backup_folder=dict(type='path'),
            src=dict(type='path'),
            categories=dict(type='list', elements='str'),
        ),
        required_one_of=REQUIRED_ONE_OF + [['backup_folder', 'src']],
        mutually_exclusive=[['backup_folder', 'src'], ['backup_folder', 'categories']],
        supports_check_mode=True,
    )
    p = module.params
    if p['backup_folder']:
        folder = p['backup_folder']
        if not os.path.isdir(folder):
            if module.check_mode:
                module.exit_json(changed=False, units=[], changed_units=[], failed_units=[], dry_run=True,
                                 msg='%s does not exist yet; a real run makes it' % folder)
            try:
                os.makedirs(folder)
            except OSError as e:
                module.fail_json(msg='cannot make the backup folder %s: %s' % (folder, to_native(e)))
        rc, document, shown = run_talvorctl(module, 'download-config', switches=['--folder', folder])
        result, failed = batch_result(module, 'download-config', rc, document, shown)
        result['backup_files'] = dict((u.get('address'), u.get('file')) for u in result['units'] if u.get('file'))
        finish(module, result, failed)

    switches = ['--only-if-different']
    for category in p['categories'] or []:
        switches += ['--category', category]
    rc, document, shown = run_talvorctl(module, 'upload-config', [p['src']], switches)
    result, failed = batch_result(module, 'upload-config', rc, document, shown)
    if module._diff:  # pylint: disable=protected-access
        flag = 'would_change' if module.check_mode else 'changed'
        result['diff'] = [unit_diff(u) for u in result['units'] if u.get(flag) and u.get('differences')]
    finish(module, result, failed)


if __name__ == '__main__':
    main()
