#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: 2026 Veltrano

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: talvor_restart
short_description: Restarts the site's hub units, or their TAPs of a class
version_added: 0.1.0
description:
  - Restarts the site's units, with their TAPs or without, or the TAPs of a TAP class, with C(talvorctl restart).
  - Every unit that took the restart reports C(changed).
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
      - Runs C(talvorctl --dry-run), which logs in and reads but restarts nothing.
  diff_mode:
    support: none
  platform:
    platforms: posix
options:
  taps:
    description:
      - Restart the units with their TAPs (C(true)) or the units alone (C(false)); the units alone when not given.
      - Not with a TAP class in I(class_name), which restarts those TAPs only.
    type: bool
'''

EXAMPLES = r'''
- name: Restart the units without their TAPs
  quillon.talvor.talvor_restart:
    password: "{{ talvor_password }}"
    lists: [/etc/talvor/site.txt]
    taps: false

- name: Restart the Rail Module TAPs only
  quillon.talvor.talvor_restart:
    password: "{{ talvor_password }}"
    targets: [10.20.0.11]
    class_name: Rail Module
'''

RETURN = r'''
units:
  description: Each unit's result, as C(talvorctl --json restart) reports it.
  returned: always
  type: list
  elements: dict
  contains:
    address:
      description: The unit's address.
      type: str
    status:
      description: C(ok), C(failed), C(cancelled), C(skipped) or C(duplicate).
      type: str
    changed:
      description: Whether the unit took the restart.
      type: bool
    reason:
      description: What happened, or why not.
      type: str
changed_units:
  description: Addresses of the units restarted (in check mode, those that would be).
  returned: always
  type: list
  elements: str
failed_units:
  description: Addresses of the units that failed or were cancelled.
  returned: always
  type: list
  elements: str
cmd:
  description: The C(talvorctl) command run.
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
    """Runs talvorctl restart, with the TAPs or without."""
    module = batch_module(
        taps=dict(type='bool'),
    )
    taps = module.params['taps']
    switches = [] if taps is None else ['--with-taps' if taps else '--no-taps']
    run_batch(module, 'restart', switches=switches)


if __name__ == '__main__':
    main()
