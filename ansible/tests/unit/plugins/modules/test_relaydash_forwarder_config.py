# -*- coding: utf-8 -*-
# The merge-patch comparisons the module decides idempotence and its diff with, and the
# fingerprint a certificate is pinned by.
from __future__ import absolute_import, division, print_function

__metaclass__ = type

import unittest

from ansible_collections.relaydash.gateway.plugins.module_utils.relaydash_api import normalize_fingerprint
from ansible_collections.relaydash.gateway.plugins.modules.relaydash_forwarder_config import (
    differs,
    merged,
    touched,
)

CURRENT = {
    "gateway_conf": {"server_address": "a.example.net", "serv_port_up": 1700, "forward_crc_valid": True},
    "SX130x_conf": {"radio_0": {"enable": True, "freq": 867500000}},
}


class Differs(unittest.TestCase):
    def test_values_already_there(self):
        self.assertFalse(differs(CURRENT, {"gateway_conf": {"server_address": "a.example.net"}}))
        self.assertFalse(differs(CURRENT, {"SX130x_conf": {"radio_0": {"freq": 867500000}}}))
        self.assertFalse(differs(CURRENT, {"gateway_conf": {}}))
        self.assertFalse(differs(CURRENT, {}))

    def test_another_value(self):
        self.assertTrue(differs(CURRENT, {"gateway_conf": {"server_address": "b.example.net"}}))
        self.assertTrue(differs(CURRENT, {"gateway_conf": {"serv_port_up": 1701}}))

    def test_a_missing_member(self):
        self.assertTrue(differs(CURRENT, {"gateway_conf": {"beacon_period": 0}}))
        self.assertTrue(differs(CURRENT, {"gateway_conf": {"beacon_period": None}}))
        self.assertTrue(differs(CURRENT, {"new_section": {}}))

    def test_a_boolean_is_no_number(self):
        self.assertTrue(differs(CURRENT, {"gateway_conf": {"forward_crc_valid": 1}}))
        self.assertTrue(differs({"a": 1}, {"a": True}))

    def test_an_object_replacing_a_value(self):
        self.assertTrue(differs({"a": 1}, {"a": {"b": 1}}))
        self.assertTrue(differs({"a": {"b": 1}}, {"a": [1]}))


class Diff(unittest.TestCase):
    def test_touched_members_before_and_after(self):
        patch = {"gateway_conf": {"server_address": "b.example.net", "beacon_period": 0}}
        before = touched(CURRENT, patch)
        self.assertEqual(before, {"gateway_conf": {"server_address": "a.example.net"}})
        self.assertEqual(merged(before, patch),
                         {"gateway_conf": {"server_address": "b.example.net", "beacon_period": 0}})

    def test_merge_keeps_other_members(self):
        out = merged(CURRENT, {"SX130x_conf": {"radio_0": {"freq": 868500000}}})
        self.assertEqual(out["SX130x_conf"]["radio_0"], {"enable": True, "freq": 868500000})
        self.assertEqual(CURRENT["SX130x_conf"]["radio_0"]["freq"], 867500000)


class Fingerprint(unittest.TestCase):
    def test_forms(self):
        colons = ":".join(["AB"] * 32)
        self.assertEqual(normalize_fingerprint(colons), colons)
        self.assertEqual(normalize_fingerprint("ab" * 32), colons)

    def test_refused(self):
        for text in ("AB:CD", "ZZ" * 32, "AB" * 33):
            with self.assertRaises(ValueError):
                normalize_fingerprint(text)


if __name__ == "__main__":
    unittest.main()
