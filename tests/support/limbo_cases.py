#!/usr/bin/env python3
"""Turns x509-limbo's server cases (limbo.json) into files the Windows test
of the certificate check reads, since that test has no JSON reader:

  limbo_cases.py LIMBO_DIR OUT_DIR

OUT_DIR/cases.txt has one line per case, fields split by tabs:
  NUMBER ID EXPECTED(SUCCESS|FAILURE) PEER_NAME VALIDATION_TIME(YYYY-MM-DD hh:mm:ss UTC, or -)
  MAX_CHAIN_DEPTH(the most intermediate CAs the case allows, or -)
and OUT_DIR/NUMBER/ holds trusted.pem (the roots, as a CAFile) and sent.pem
(the server's certificate first, then the intermediates it would send).
Exits 77 (ctest's skip) when LIMBO_DIR/limbo.json is absent.
"""
import datetime
import json
import os
import shutil
import sys


def main(limbo_dir, out_dir):
    source = os.path.join(limbo_dir, "limbo.json")
    if not os.path.exists(source):
        print("limbo_cases.py: not run: the x509-limbo certificate suite is read from shared/limbo beside "
              "the project, and %s is absent" % os.path.abspath(source))
        return 77
    with open(source) as f:
        cases = json.load(f)["testcases"]
    shutil.rmtree(out_dir, ignore_errors=True)
    os.makedirs(out_dir)
    lines = []
    for number, case in enumerate(cases):
        if case["validation_kind"] != "SERVER" or not case.get("expected_peer_name"):
            continue
        folder = os.path.join(out_dir, str(number))
        os.makedirs(folder)
        with open(os.path.join(folder, "trusted.pem"), "w") as f:
            f.write("".join(case["trusted_certs"]))
        with open(os.path.join(folder, "sent.pem"), "w") as f:
            f.write(case["peer_certificate"] + "".join(case["untrusted_intermediates"]))
        when = "-"
        if case.get("validation_time"):
            moment = datetime.datetime.fromisoformat(case["validation_time"].replace("Z", "+00:00"))
            when = moment.astimezone(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M:%S")
        depth = "-" if case.get("max_chain_depth") is None else str(case["max_chain_depth"])
        lines.append("\t".join([str(number), case["id"], case["expected_result"],
                                case["expected_peer_name"]["value"], when, depth]))
    with open(os.path.join(out_dir, "cases.txt"), "w") as f:
        f.write("\n".join(lines) + "\n")
    print("limbo: %d server cases written to %s" % (len(lines), out_dir))
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: limbo_cases.py LIMBO_DIR OUT_DIR")
    sys.exit(main(sys.argv[1], sys.argv[2]))
