#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: 2026 Veltrano

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: talvor_facts
short_description: The site's hub units and their TAPs as facts
version_added: 0.1.0
description:
  - Refreshes the units of a site with C(talvorctl --json show) (or C(discover)) on the site host and sets them as the
    fact C(talvor_units), one entry per unit with its TAPs.
  - Sends nothing that changes a unit, so it runs the same in check mode and never reports C(changed).
author:
  - Talvor Manager maintainers (talvor-manager@example.org)
extends_documentation_fragment:
  - quillon.talvor.talvorctl
  - ansible.builtin.action_common_attributes
  - ansible.builtin.action_common_attributes.facts
attributes:
  check_mode:
    support: full
    details:
      - Refreshing only reads, so check mode changes nothing about what it does.
  diff_mode:
    support: none
  facts:
    support: full
  platform:
    platforms: posix
notes:
  - With I(discover) the units discovery finds are refreshed, and I(targets) and I(lists) may not be given.
'''

EXAMPLES = r'''
- name: Read the site's units
  quillon.talvor.talvor_facts:
    password: "{{ talvor_password }}"
    lists: [/etc/talvor/site.txt]
    accept_insecure: true

- name: Units not yet on the target version
  ansible.builtin.debug:
    msg: "{{ talvor_units | rejectattr('firmware_version', 'equalto', '0.65.0') | map(attribute='address') }}"
'''

RETURN = r'''
ansible_facts:
  description: Facts set for the site host.
  returned: success
  type: dict
  contains:
    talvor_units:
      description:
        - Every unit refreshed, in the order of the targets, as C(talvorctl --json show) reports it without its display
          rows.
      type: list
      elements: dict
      contains:
        address:
          description: The address the unit was reached at.
          type: str
          sample: 10.20.0.11
        protocol:
          description: How it was reached.
          type: str
          sample: https
        serial:
          description: Serial number.
          type: str
        mac:
          description: MAC address.
          type: str
        product_class:
          description: Its product class.
          type: str
          sample: Talvor System
        firmware_version:
          description: The firmware version it reports.
          type: str
          sample: 0.65.0
        description:
          description: The description set on the unit.
          type: str
        problems:
          description: Its security problems, such as C(untrusted).
          type: list
          elements: str
        result:
          description: C(ok), C(failed) or C(duplicate).
          type: str
        error:
          description: Why it failed, for a unit that did.
          type: str
        taps:
          description: Its TAPs, each with C(class), C(product_class), C(serial), C(bus_address), C(firmware_version).
          type: list
          elements: dict
units:
  description: The same units as C(talvor_units).
  returned: always
  type: list
  elements: dict
failed_units:
  description: Addresses of the units that could not be refreshed.
  returned: always
  type: list
  elements: str
  sample: [10.20.0.14]
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.quillon.talvor.plugins.module_utils.talvorctl import (
    COMMON_ARGS, REQUIRED_ONE_OF, run_talvorctl, unit_name, unit_reason)


def without_rows(entry):
    """A unit or TAP without its display rows, and its TAPs likewise."""
    out = dict((k, v) for k, v in entry.items() if k != 'details')
    if isinstance(out.get('taps'), list):
        out['taps'] = [without_rows(t) for t in out['taps']]
    return out


def main():
    """Refreshes the units and sets them as facts."""
    module = AnsibleModule(
        argument_spec=COMMON_ARGS,
        required_one_of=REQUIRED_ONE_OF,
        mutually_exclusive=[['discover', 'targets'], ['discover', 'lists']],
        supports_check_mode=True,
    )
    verb = 'discover' if module.params['discover'] else 'show'
    rc, document, shown = run_talvorctl(module, verb)
    units = [without_rows(u) for u in document.get('units', [])]
    failed = [u for u in units if u.get('result') == 'failed']
    for unit in units:
        if unit.get('result') == 'duplicate':
            module.warn('%s: %s' % (unit_name(unit), unit_reason(unit)))
    result = dict(changed=False, cmd=shown, rc=rc, units=units,
                  failed_units=[u.get('address') for u in failed],
                  ansible_facts=dict(talvor_units=units))
    if failed:
        module.fail_json(msg='%d of %d units could not be refreshed: %s' % (
            len(failed), len(units), '; '.join('%s: %s' % (unit_name(u), unit_reason(u)) for u in failed)),
            **result)
    module.exit_json(**result)


if __name__ == '__main__':
    main()
