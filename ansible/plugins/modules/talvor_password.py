#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: 2026 Veltrano

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: talvor_password
short_description: Rotates the administrator password of the site's hub units
version_added: 0.1.0
description:
  - Changes the administrator password of the site's units with C(talvorctl set-password); a unit counts as done only
    once it has logged in with the new password.
  - A unit on which I(new_password) already logs in is left alone (C(unchanged)); a unit that refuses I(password) is
    offered I(new_password) once, so the same task run again after a rotation that stopped half way changes only the
    units still on I(password). A unit that refuses both fails with C(login refused).
  - Both passwords go to C(talvorctl) on its standard input, never in its arguments or environment, and neither
    appears in the task's output.
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
      - Runs C(talvorctl --dry-run), which logs in and tries the new password but changes nothing.
  diff_mode:
    support: none
  platform:
    platforms: posix
options:
  new_password:
    description:
      - The new administrator password. Keep it in Ansible Vault.
    type: str
    required: true
'''

EXAMPLES = r'''
- name: Rotate the site's administrator password
  quillon.talvor.talvor_password:
    password: "{{ talvor_password }}"
    new_password: "{{ talvor_new_password }}"
    lists: [/etc/talvor/site.txt]
'''

RETURN = r'''
units:
  description: Each unit's result, as C(talvorctl --json set-password) reports it (no password in it).
  returned: always
  type: list
  elements: dict
  contains:
    address:
      description: The unit's address.
      type: str
    status:
      description: C(ok), C(unchanged), C(failed), C(cancelled), C(skipped) or C(duplicate).
      type: str
    changed:
      description: Whether the unit's password was changed.
      type: bool
    reason:
      description: What happened, or why not.
      type: str
      sample: password changed, login with the new password failed
changed_units:
  description: Addresses of the units whose password was changed (in check mode, would be).
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
    """Runs talvorctl set-password, both passwords on its standard input."""
    module = batch_module(
        new_password=dict(type='str', required=True, no_log=True),
    )
    run_batch(module, 'set-password', switches=['--new-password-stdin'],
              new_password=module.params['new_password'])


if __name__ == '__main__':
    main()
