# -*- coding: utf-8 -*-
from __future__ import absolute_import, division, print_function

__metaclass__ = type


class ModuleDocFragment(object):
    # How every module of the collection reaches a gateway and signs in: CONNECTION_ARGS in
    # module_utils/relaydash_api.py.
    DOCUMENTATION = r"""
options:
  url:
    description: The gateway's address, C(http://HOST:PORT) or C(https://HOST:PORT).
    type: str
    required: true
  username:
    description: The account to sign in as.
    type: str
    default: admin
  password:
    description: The account's password.
    type: str
    required: true
  validate_certs:
    description: Check an HTTPS certificate against the certificate authorities.
    type: bool
    default: true
  fingerprint:
    description:
      - The SHA-256 fingerprint of the gateway's certificate (C(AB:CD:...)); the certificate must
        have it, and is not checked against the authorities.
    type: str
  timeout:
    description: Seconds a call may take.
    type: int
    default: 180
"""
