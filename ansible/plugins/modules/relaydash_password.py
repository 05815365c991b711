#!/usr/bin/python
# -*- coding: utf-8 -*-
from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: relaydash_password
short_description: Set the administrator's password of a relaydash gateway
description:
  - Sets the password of the account C(admin) with C(password/update).
  - Idempotent. It first tries to sign in with C(new_password); when that works nothing is changed.
  - Other sessions of the account end when the password changes.
  - Runs on the control node (C(connection=local) or C(delegate_to=localhost)).
version_added: "1.0.0"
author: relaydash developers
extends_documentation_fragment:
  - relaydash.gateway.connection
options:
  password:
    description: The current password (the change is always that of C(admin)).
    type: str
    required: true
  new_password:
    description: The password the account should have.
    type: str
    required: true
notes:
  - Check mode is supported. A wrong current password counts as a failed sign-in on the gateway,
    which slows further attempts from the control node.
"""

EXAMPLES = r"""
- name: Replace the factory password
  relaydash.gateway.relaydash_password:
    url: "{{ relaydash_url }}"
    password: quilm
    new_password: "{{ vault_relaydash_password }}"
  delegate_to: localhost
"""

RETURN = r"""
changed:
  description: Whether the password was (or, in check mode, would be) changed.
  returned: always
  type: bool
"""

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.relaydash.gateway.plugins.module_utils.relaydash_api import (
    CONNECTION_ARGS,
    ApiError,
    client_from,
)

# login/password: 403 23009 for a wrong password.
WRONG_PASSWORD = (23009, 24004)


def main():
    argument_spec = dict(CONNECTION_ARGS)
    argument_spec.update(new_password=dict(type="str", required=True, no_log=True))
    module = AnsibleModule(argument_spec=argument_spec, supports_check_mode=True)
    p = module.params
    client = client_from(module)
    try:
        client.login(p["new_password"])
        module.exit_json(changed=False)
    except ApiError as e:
        if e.code not in WRONG_PASSWORD:
            module.fail_json(msg=e.message, status=e.status, error=e.error)
    try:
        client.login()
    except ApiError as e:
        module.fail_json(msg="Neither the new password nor the current one signs in: %s" % e.message,
                         status=e.status, error=e.error)
    if module.check_mode:
        module.exit_json(changed=True)
    try:
        client.call("password/update", {"currentPassword": p["password"], "newPassword": p["new_password"]})
    except ApiError as e:
        module.fail_json(msg=e.message, status=e.status, error=e.error)
    module.exit_json(changed=True)


if __name__ == "__main__":
    main()
