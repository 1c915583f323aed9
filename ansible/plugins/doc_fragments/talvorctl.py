# -*- coding: utf-8 -*-
# Copyright: 2026 Veltrano

from __future__ import absolute_import, division, print_function
__metaclass__ = type


class ModuleDocFragment(object):
    """The options every module of the collection takes, and those of the
    modules that run a batch command."""

    DOCUMENTATION = r'''
options:
  password:
    description:
      - The administrator password of the site's units.
      - Handed to C(talvorctl) on its standard input (C(--password-stdin)), never in its arguments or environment.
      - Keep it in Ansible Vault.
    type: str
  credentials:
    description:
      - A file on the site host whose lines are C(ADDRESS-OR-SERIAL PASSWORD) (C(#) starts a comment), for units that
        do not share I(password).
      - C(talvorctl) refuses it unless its mode is C(0600).
    type: path
  targets:
    description:
      - Addresses of the units, IPv4 or IPv6.
      - At least one of I(targets), I(lists) and I(discover) is needed.
    type: list
    elements: str
  lists:
    description:
      - Address list files on the site host, one address a line.
    type: list
    elements: path
  discover:
    description:
      - Also take the units discovery finds on the site host's networks.
    type: bool
  tls_checks:
    description:
      - The TLS check level for this run; the site host's saved setting when not given.
    type: str
    choices: [none, standard, strict]
  accept_insecure:
    description:
      - Connect to units that fail the TLS checks, and to unencrypted (HTTP) units, without asking.
    type: bool
    default: false
  timeout:
    description:
      - Seconds a unit's connection and each exchange with it may take (C(--timeout)).
    type: int
  retries:
    description:
      - How many times a transient failure of a unit is tried again within the run (C(--retries)).
    type: int
  talvorctl_path:
    description:
      - The C(talvorctl) program on the site host; found on C(PATH) when not given.
    type: path
requirements:
  - C(talvorctl) on the site host, reading schema 1 of its JSON document.
notes:
  - The module runs on the site host, which reaches the units on its own network.
  - Each unit's result is returned under C(units); the task fails when any unit failed, and lists them in
    C(failed_units).
'''

    BATCH = r'''
options:
  class_name:
    description:
      - The class to act on, C(talvorctl --class) - a hub class (the units' own by default), or a TAP class such as
        C(Rail Module) for those TAPs of the units.
    type: str
  parallel:
    description:
      - At most this many units at work at once; the others wait in order. All at once when not given.
    type: int
'''
