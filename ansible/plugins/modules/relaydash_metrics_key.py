#!/usr/bin/python
# -*- coding: utf-8 -*-
from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: relaydash_metrics_key
short_description: Make or revoke a gateway's key for /metrics
description:
  - A metrics key lets Prometheus read the gateway's C(/metrics). The gateway makes it, shows it
    once and keeps only its hash, so the key is returned only by the run that makes it: keep
    it there (the playbook C(playbooks/metrics-keys.yml) writes it to a file on the control
    node) and run the task with C(no_log).
  - Keys are told apart by their name. With C(state=present) a key of that name that is not
    revoked is left as it is (C(changed=false), no key returned), unless C(rotate) asks for a
    new one; with C(state=absent) every key of that name is revoked.
  - Runs on the control node (C(connection=local) or C(delegate_to=localhost)).
version_added: "1.1.0"
author: relaydash developers
extends_documentation_fragment:
  - relaydash.gateway.connection
options:
  name:
    description: The key's name on the gateway's Account page, such as C(prometheus).
    type: str
    required: true
  state:
    description: Whether a valid key of that name should exist.
    type: str
    choices: [present, absent]
    default: present
  rotate:
    description:
      - With C(state=present), revoke the key of that name and make a new one, as when the
        copy kept of the key was lost.
    type: bool
    default: false
notes:
  - Check mode is supported.
"""

EXAMPLES = r"""
- name: A key for Prometheus
  relaydash.gateway.relaydash_metrics_key:
    url: "{{ relaydash_url }}"
    password: "{{ vault_relaydash_password }}"
    name: prometheus
  register: metrics_key
  no_log: true
  delegate_to: localhost

- name: No more scrapes with it
  relaydash.gateway.relaydash_metrics_key:
    url: "{{ relaydash_url }}"
    password: "{{ vault_relaydash_password }}"
    name: prometheus
    state: absent
  delegate_to: localhost
"""

RETURN = r"""
key:
  description: The new key, to send as C(Authorization: Bearer KEY). Only when one was made.
  returned: changed and state=present, not in check mode
  type: str
id:
  description: The key's number on the gateway.
  returned: when a key of that name is valid
  type: int
certificate:
  description:
    - Over HTTPS, the gateway's certificate (PEM) as the calls saw it, pinned by C(fingerprint)
      or checked as C(validate_certs) says; Prometheus trusts the gateway with it (C(ca_file)).
  returned: when C(url) is https
  type: str
revoked:
  description: The numbers of the keys revoked.
  returned: always
  type: list
  elements: int
"""

import ssl

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.relaydash.gateway.plugins.module_utils.relaydash_api import (
    CONNECTION_ARGS,
    ApiError,
    client_from,
)


def valid_keys_named(client, name):
    keys = client.call("metrics-keys/list").get("keys", [])
    return [k for k in keys if k.get("name") == name and k.get("revokedAt") is None]


def change(module, client):
    """What the run did, as exit_json's arguments."""
    p = module.params
    valid = valid_keys_named(client, p["name"])
    if p["state"] == "present" and valid and not p["rotate"]:
        return dict(changed=False, id=valid[0]["id"], revoked=[])
    to_revoke = [k["id"] for k in valid]
    make = p["state"] == "present"
    if module.check_mode:
        return dict(changed=bool(to_revoke) or make, revoked=to_revoke)
    for key_id in to_revoke:
        client.call("metrics-keys/revoke", {"id": key_id})
    if not make:
        return dict(changed=bool(to_revoke), revoked=to_revoke)
    made = client.call("metrics-keys/create", {"name": p["name"]})
    return dict(changed=True, key=made["key"], id=made["id"], revoked=to_revoke)


def main():
    argument_spec = dict(CONNECTION_ARGS)
    argument_spec.update(
        name=dict(type="str", required=True),
        state=dict(type="str", choices=["present", "absent"], default="present"),
        rotate=dict(type="bool", default=False),
    )
    module = AnsibleModule(argument_spec=argument_spec, supports_check_mode=True)
    client = client_from(module)
    try:
        result = change(module, client)
    except ApiError as e:
        module.fail_json(msg=e.message, status=e.status, error=e.error)
    if client.certificate:
        result["certificate"] = ssl.DER_cert_to_PEM_cert(client.certificate)
    module.exit_json(**result)


if __name__ == "__main__":
    main()
