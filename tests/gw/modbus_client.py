#!/usr/bin/python3
"""A Modbus TCP client on pymodbus for rt8gw's tests.

modbus_client.py PORT takes requests on standard input, one JSON object a
line ({"op": ..., "unit": N, "address": A, "count": C, "order": "ABCD"}),
and answers each with one JSON line on standard output: {"registers": [...]},
{"floats": [...]} (channels 0-9 decoded by pymodbus in the word order given),
{"polls": N} (N reads of all 36 registers that were answered), or
{"exception": CODE}, or {"error": TEXT}.
"""

import json
import sys
import time

from pymodbus.client import ModbusTcpClient
from pymodbus.constants import Endian
from pymodbus.payload import BinaryPayloadDecoder

ORDERS = {  # byte order in a register, word order
    "ABCD": (Endian.Big, Endian.Big),
    "CDAB": (Endian.Big, Endian.Little),
    "BADC": (Endian.Little, Endian.Big),
    "DCBA": (Endian.Little, Endian.Little),
}


def answer(r):
    if r.isError():
        code = getattr(r, "exception_code", None)
        return {"exception": code} if code is not None else {"error": str(r)}
    if hasattr(r, "registers"):
        return {"registers": r.registers}
    if hasattr(r, "bits"):
        return {"bits": [int(b) for b in r.bits]}
    return {"written": True}


def main():
    client = ModbusTcpClient("127.0.0.1", port=int(sys.argv[1]), timeout=10, retries=0)
    if not client.connect():
        print(json.dumps({"error": "no connection"}), flush=True)
        return 1
    for line in sys.stdin:
        req = json.loads(line)
        op, unit = req["op"], req.get("unit", 1)
        address, count = req.get("address", 0), req.get("count", 1)
        try:
            if op == "read_input":
                out = answer(client.read_input_registers(address, count, slave=unit))
            elif op == "read_holding":
                out = answer(client.read_holding_registers(address, count, slave=unit))
            elif op == "read_coils":
                out = answer(client.read_coils(address, count, slave=unit))
            elif op == "read_discrete":
                out = answer(client.read_discrete_inputs(address, count, slave=unit))
            elif op == "write_register":
                out = answer(client.write_register(address, 1, slave=unit))
            elif op == "write_registers":
                out = answer(client.write_registers(address, [1, 2], slave=unit))
            elif op == "floats":
                r = client.read_input_registers(0, 20, slave=unit)
                out = answer(r)
                if "registers" in out:
                    byteorder, wordorder = ORDERS[req["order"]]
                    d = BinaryPayloadDecoder.fromRegisters(r.registers, byteorder=byteorder, wordorder=wordorder)
                    values = [d.decode_32bit_float() for _ in range(10)]
                    out = {"floats": ["nan" if v != v else v for v in values]}
            elif op == "poll":
                answered = 0
                for _ in range(req["times"]):
                    r = client.read_input_registers(0, 36, slave=unit)
                    answered += 0 if r.isError() else len(r.registers) == 36
                    time.sleep(req.get("interval_ms", 100) / 1000)
                out = {"polls": answered}
            else:
                out = {"error": "unknown op " + op}
        except Exception as e:  # a closed connection, a timeout: said, not raised
            out = {"error": repr(e)}
        print(json.dumps(out), flush=True)
    client.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
