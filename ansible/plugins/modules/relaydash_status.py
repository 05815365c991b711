#!/usr/bin/python
# -*- coding: utf-8 -*-
from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: relaydash_status
short_description: Read a relaydash gateway's status
description:
  - Calls C(gateway/status) and returns its output as the fact C(relaydash_status).
  - Runs on the control node (C(connection=local) or C(delegate_to=localhost)).
version_added: "1.0.0"
author: relaydash developers
extends_documentation_fragment:
  - relaydash.gateway.connection
"""

EXAMPLES = r"""
- name: Read the status
  relaydash.gateway.relaydash_status:
    url: "{{ relaydash_url }}"
    password: "{{ relaydash_password }}"
  delegate_to: localhost

- name: The verdict
  ansible.builtin.debug:
    msg: "{{ relaydash_status.verdict.text }}"
"""

RETURN = r"""
ansible_facts:
  description: C(relaydash_status), the output of C(gateway/status).
  returned: success
  type: dict
"""

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.relaydash.gateway.plugins.module_utils.relaydash_api import (
    CONNECTION_ARGS,
    ApiError,
    client_from,
)


def main():
    module = AnsibleModule(argument_spec=dict(CONNECTION_ARGS), supports_check_mode=True)
    client = client_from(module)
    try:
        status = client.call("gateway/status")
    except ApiError as e:
        module.fail_json(msg=e.message, status=e.status, error=e.error)
    module.exit_json(changed=False, ansible_facts=dict(relaydash_status=status))


if __name__ == "__main__":
    main()
