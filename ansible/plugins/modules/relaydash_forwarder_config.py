#!/usr/bin/python
# -*- coding: utf-8 -*-
from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: relaydash_forwarder_config
short_description: Change a relaydash gateway's packet forwarder configuration safely
description:
  - Changes the forwarder's configuration with C(forwarder-config/apply), so the gateway writes
    the file, restarts the forwarder, watches it for C(settle_seconds) and puts the old file back
    when the forwarder does not run well afterwards. Such a rollback fails the task with its
    reason.
  - Either C(patch), members to merge into the file, or C(plan), a frequency plan.
  - Idempotent. A patch whose every member already has its value, or a plan the file already
    implements, changes nothing and applies nothing.
  - The apply names the file it was decided on (its hash); a file changed in between is refused.
  - Runs on the control node (C(connection=local) or C(delegate_to=localhost)).
version_added: "1.0.0"
author: relaydash developers
extends_documentation_fragment:
  - relaydash.gateway.connection
options:
  patch:
    description:
      - Members the file should have, merged as a JSON merge patch (objects member by member,
        anything else replaced whole). No member is removed.
    type: dict
  plan:
    description: A frequency plan the file should implement.
    type: dict
    suboptions:
      region:
        description: C(EU868), C(US915), C(AU915), C(AS923-1) ... C(CN470).
        type: str
        required: true
      subBand:
        description: The sub-band (US915, AU915) or group (CN470).
        type: int
  settle_seconds:
    description: How long the forwarder must run well after its restart (0 to 120).
    type: int
    default: 15
  watch:
    description: C(link) judges the network server's acknowledgements too, C(process) the process alone.
    type: str
    choices: [link, process]
    default: link
  out_of_band:
    description: Confirm a deliberate change outside the band of the file's plan.
    type: bool
    default: false
notes:
  - Check mode and diff mode are supported. The diff shows the members the change touches.
"""

EXAMPLES = r"""
- name: Point the forwarder at another network server
  relaydash.gateway.relaydash_forwarder_config:
    url: https://192.168.1.5:9992
    fingerprint: "{{ gateway_fingerprint }}"
    password: "{{ vault_relaydash_password }}"
    patch:
      gateway_conf:
        server_address: eu1.cloud.example.net
        serv_port_up: 1700
        serv_port_down: 1700
  delegate_to: localhost

- name: US915 sub-band 2
  relaydash.gateway.relaydash_forwarder_config:
    url: "{{ relaydash_url }}"
    password: "{{ vault_relaydash_password }}"
    plan:
      region: US915
      subBand: 2
    settle_seconds: 30
  delegate_to: localhost
"""

RETURN = r"""
version:
  description: The history version that holds the file from before the change.
  returned: changed and not in check mode
  type: int
applied:
  description: The apply's output.
  returned: changed and not in check mode
  type: dict
patch:
  description: The members the change sets (for a plan, what the gateway worked out).
  returned: always
  type: dict
rollback:
  description: The gateway's answer when it rolled the change back.
  returned: failed by a rollback
  type: dict
"""

import copy

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.relaydash.gateway.plugins.module_utils.relaydash_api import (
    CONNECTION_ARGS,
    ApiError,
    client_from,
)

MISSING = object()


def differs(current, patch):
    """Whether merging patch into current would change something."""
    for name, value in patch.items():
        have = current.get(name, MISSING) if isinstance(current, dict) else MISSING
        if isinstance(value, dict) and isinstance(have, dict):
            if differs(have, value):
                return True
        elif isinstance(value, dict):
            return True
        elif have is MISSING or have != value or isinstance(have, bool) != isinstance(value, bool):
            return True
    return False


def touched(current, patch):
    """The members of current that patch names, as they are now (a member that is missing is left out)."""
    out = {}
    for name, value in patch.items():
        if not isinstance(current, dict) or name not in current:
            continue
        if isinstance(value, dict) and isinstance(current[name], dict):
            out[name] = touched(current[name], value)
        else:
            out[name] = copy.deepcopy(current[name])
    return out


def merged(current, patch):
    out = copy.deepcopy(current) if isinstance(current, dict) else {}
    for name, value in patch.items():
        if isinstance(value, dict):
            out[name] = merged(out.get(name), value)
        else:
            out[name] = copy.deepcopy(value)
    return out


def main():
    argument_spec = dict(CONNECTION_ARGS)
    argument_spec.update(
        patch=dict(type="dict"),
        plan=dict(type="dict", options=dict(region=dict(type="str", required=True),
                                            subBand=dict(type="int"))),
        settle_seconds=dict(type="int", default=15),
        watch=dict(type="str", choices=["link", "process"], default="link"),
        out_of_band=dict(type="bool", default=False),
    )
    module = AnsibleModule(argument_spec=argument_spec, supports_check_mode=True,
                           mutually_exclusive=[("patch", "plan")], required_one_of=[("patch", "plan")])
    p = module.params
    if not 0 <= p["settle_seconds"] <= 120:
        module.fail_json(msg="settle_seconds must be from 0 to 120")
    client = client_from(module)
    plan = None
    if p["plan"] is not None:
        plan = {"region": p["plan"]["region"]}
        if p["plan"]["subBand"] is not None:
            plan["subBand"] = p["plan"]["subBand"]

    try:
        text = client.call("forwarder-config/text")
        current = client.call("forwarder-config/get")
        if plan is not None:
            patch = client.call("forwarder-config/plans", {"plan": plan}).get("patch") or {}
        else:
            patch = p["patch"]
    except ApiError as e:
        module.fail_json(msg=e.message, status=e.status, error=e.error)

    result = dict(changed=False, patch=patch)
    if not patch or not differs(current, patch):
        if module._diff:
            result["diff"] = dict(before={}, after={})
        module.exit_json(**result)

    result["changed"] = True
    if module._diff:
        before = touched(current, patch)
        result["diff"] = dict(before=before, after=merged(before, patch))
    if module.check_mode:
        module.exit_json(**result)

    change = {"settleSeconds": p["settle_seconds"], "base": text["hash"], "watch": p["watch"]}
    if plan is not None:
        change["plan"] = plan
    else:
        change["patch"] = patch
    if p["out_of_band"]:
        change["outOfBand"] = True
    try:
        applied = client.call("forwarder-config/apply", change)
    except ApiError as e:
        if e.error.get("result") == "rolled-back" or e.status == 422:
            result["rollback"] = e.error
            result["changed"] = False
            module.fail_json(msg=e.error.get("message") or e.message, **result)
        result["changed"] = False
        module.fail_json(msg=e.message, status=e.status, error=e.error, **result)
    result["version"] = applied.get("version")
    result["applied"] = applied
    module.exit_json(**result)


if __name__ == "__main__":
    main()
