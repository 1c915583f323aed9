# -*- coding: utf-8 -*-
# Copyright: 2026 Veltrano
"""Runs talvorctl --json on the site host and turns its document into a
module result: changed only where a unit changed (or, in check mode, would
change), failed when a unit failed, every unit's own result returned."""

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import json

from ansible.module_utils.basic import AnsibleModule

# The version of talvorctl's JSON document this collection reads.
SCHEMA = 1

# Options of every module (the talvorctl doc fragment describes them).
COMMON_ARGS = dict(
    password=dict(type='str', no_log=True),
    credentials=dict(type='path'),
    # No defaults here, so that required_one_of sees which were given.
    targets=dict(type='list', elements='str'),
    lists=dict(type='list', elements='path'),
    discover=dict(type='bool'),
    tls_checks=dict(type='str', choices=['none', 'standard', 'strict']),
    accept_insecure=dict(type='bool', default=False),
    timeout=dict(type='int'),
    retries=dict(type='int'),
    talvorctl_path=dict(type='path'),
)

# Options of the modules that run a batch command.
BATCH_ARGS = dict(
    COMMON_ARGS,
    class_name=dict(type='str'),
    parallel=dict(type='int'),
)

# What every module asks of its targets.
REQUIRED_ONE_OF = [['targets', 'lists', 'discover']]

# The commands that only read, and take no batch options.
READ_VERBS = ('show', 'discover')

# Unit statuses of a batch that leave the task failed. "skipped" (the unit
# lacks the command or is of another class) and "duplicate" are warnings.
FAILED_STATUSES = ('failed', 'cancelled')


def batch_module(**options):
    """The module of a batch command: the common and batch options with
    `options`, targets required, check mode supported (as a dry run)."""
    return AnsibleModule(argument_spec=dict(BATCH_ARGS, **options),
                         required_one_of=REQUIRED_ONE_OF, supports_check_mode=True)


def talvorctl_command(module, verb, operands=(), switches=()):
    """The whole command line: the program, the common options, the verb,
    its switches, then its operands and the targets. No password ever goes
    into it; check mode adds --dry-run to a batch command."""
    p = module.params
    batch = verb not in READ_VERBS
    program = p['talvorctl_path'] or module.get_bin_path('talvorctl', required=True)
    argv = [program, '--json', '--yes']
    if p['password'] is not None:
        argv.append('--password-stdin')
    if p['credentials']:
        argv += ['--credentials', p['credentials']]
    if p['tls_checks']:
        argv += ['--tls-checks', p['tls_checks']]
    if p['accept_insecure']:
        argv.append('--accept-insecure')
    if p['timeout'] is not None:
        argv += ['--timeout', str(p['timeout'])]
    if p['retries'] is not None:
        argv += ['--retries', str(p['retries'])]
    if batch:
        if module.check_mode:
            argv.append('--dry-run')
        if p.get('class_name'):
            argv += ['--class', p['class_name']]
        if p.get('parallel') is not None:
            argv += ['--parallel', str(p['parallel'])]
    argv.append(verb)
    argv += list(switches)
    for path in p['lists'] or []:
        argv += ['--list', path]
    if p['discover'] and batch:
        argv.append('--discover')
    # Operands after "--", so that no file or address reads as an option.
    argv.append('--')
    argv += list(operands) + list(p['targets'] or [])
    return argv


def run_talvorctl(module, verb, operands=(), switches=(), new_password=None):
    """Runs talvorctl with the password (and a new one) on standard input
    and returns (rc, document, command). Fails the task when talvorctl
    printed no document of the schema this collection reads."""
    argv = talvorctl_command(module, verb, operands, switches)
    lines = []
    if module.params['password'] is not None:
        lines.append(module.params['password'])
    if new_password is not None:
        lines.append(new_password)
    stdin = ''.join(line + '\n' for line in lines)
    rc, out, err = module.run_command(argv, data=stdin, binary_data=True, expand_user_and_vars=False)
    # The command as shown to the user: program name and everything after it.
    shown = ' '.join(argv)
    try:
        document = json.loads(out) if out.strip() else None
    except ValueError:
        document = None
    if not isinstance(document, dict):
        module.fail_json(msg=talvorctl_error(rc, err, 'talvorctl printed no JSON document'),
                         rc=rc, stderr=err, stdout=out, cmd=shown)
    if document.get('schema') != SCHEMA:
        module.fail_json(msg='talvorctl printed schema %s; this collection reads schema %d (update one of them)'
                         % (document.get('schema'), SCHEMA), rc=rc, cmd=shown)
    if rc not in (0, 1):
        module.fail_json(msg=talvorctl_error(rc, err, 'talvorctl stopped'), rc=rc, stderr=err, cmd=shown,
                         units=document.get('units', []))
    return rc, document, shown


def talvorctl_error(rc, err, fallback):
    """talvorctl's own complaint (its standard error's last line, but not
    the pointer to its help) with its exit status."""
    lines = [line for line in (err or '').splitlines() if line.strip() and not line.startswith('Try ')]
    what = lines[-1] if lines else fallback
    if rc == 2:
        return '%s (usage error, nothing was sent)' % what
    if rc == 130:
        return '%s (interrupted)' % what
    return '%s (exit status %s)' % (what, rc)


def unit_name(unit):
    """ADDRESS, with the serial when known."""
    serial = unit.get('serial')
    return '%s (%s)' % (unit.get('address'), serial) if serial else str(unit.get('address'))


def unit_reason(unit):
    """Why a unit ended as it did, as talvorctl said it."""
    return unit.get('reason') or unit.get('error') or unit.get('status') or unit.get('result') or ''


def batch_result(module, verb, rc, document, shown):
    """The module result of a batch command's document. changed: a unit
    changed, or in check mode would change; failed when a unit failed."""
    units = document.get('units', [])
    flag = 'would_change' if module.check_mode else 'changed'
    changed = [u for u in units if u.get(flag)]
    failed = [u for u in units if u.get('status') in FAILED_STATUSES]
    result = dict(
        changed=bool(changed),
        command=verb,
        cmd=shown,
        rc=rc,
        dry_run=bool(document.get('dry_run')),
        units=units,
        changed_units=[u.get('address') for u in changed],
        failed_units=[u.get('address') for u in failed],
    )
    for unit in units:
        if unit.get('status') in ('skipped', 'duplicate'):
            module.warn('%s: %s %s' % (unit_name(unit), unit.get('status'), unit_reason(unit)))
    return result, failed


def finish(module, result, failed):
    """Exits with the result, failed when any unit failed."""
    if failed:
        module.fail_json(msg='%d of %d units failed: %s' % (
            len(failed), len(result['units']),
            '; '.join('%s: %s' % (unit_name(u), unit_reason(u)) for u in failed)), **result)
    module.exit_json(**result)


def run_batch(module, verb, operands=(), switches=(), new_password=None):
    """Runs a batch command and exits with its result."""
    rc, document, shown = run_talvorctl(module, verb, operands, switches, new_password=new_password)
    result, failed = batch_result(module, verb, rc, document, shown)
    finish(module, result, failed)
