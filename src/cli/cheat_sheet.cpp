#include "cli/cheat_sheet.hpp"

namespace relaydash {

const std::string_view kCheatSheet = R"sheet(BASIC CHEAT SHEET:

Long options are two dashes and a name. Their value can be given in
any of three equivalent forms:
    --port=8080      --port:8080      --port 8080
After the first "=" or ":" the rest of the argument is the value, even
when it holds more of them. In the spaced form the next argument is the
value whatever it looks like, a leading dash included; at the very end
of the command line the value is empty. "--dataPath=" sets an empty
value.

Short options are one dash and one letter. They take the same forms and
one more, the value written directly after the letter:
    -p=8080      -p:8080      -p 8080      -p8080
Short keys must be typed exactly as listed.

Long names ignore style after their first letter: dashes, underscores
and letter case do not count, so --data-path, --data_path and --DATAPATH
all name --dataPath. The first letter is compared as typed, so
--DataPath names nothing.

A long name may be cut to any prefix that fits just one option: --po
means --port and --d means --dataPath. A prefix shared by several names
is an error, unless it spells one of them in full, as --help does beside
--help-syntax.

Bool flags need no value: given alone, they are switched on. A flag
given a value reads true, yes, on, 1 and t as on, and false, no, off, 0
and f as off. The help flags here act whatever value they are given.

Short flags can be bundled behind one dash, -ab standing for -a -b; the
last letter of a bundle may still carry a value, as in -abv=1. The only
short flag of this program is -h.

Each use of an option replaces its value, so the last one counts. To
change the current value instead, put an operator before the "=" or ":":
    --opt^=ab     prepend ab to the current value
    --opt+=ab     append ab to the current value (&= does the same)
    --opt-=ab     remove ab from the current values
Options that hold several values collect one item per use, and there the
operators work item by item: ^= puts the item first, += puts it last and
-= removes every item equal to it. Every option of this program holds a
single value: strings accept ^=, += and &=; numbers ignore the operator
and take the plain value; any other operator is an error.

An argument of just "--" ends the options: nothing after it is read as
one. This program takes no other arguments, so anything that is not an
option is an error.

Arguments are read from left to right. The first request for help or
the version, and the first error, stop the program at once: later
arguments are not looked at, and nothing set before takes effect.
Defaults are shown by --help; values set on the same command line do
not change what it shows.

Examples:
    relaydash --listen 0.0.0.0 -p 8080
    relaydash --forwarder-config-path=/etc/lora/global_conf.json
    relaydash --data_path /var/lib/relaydash/db.sqlite3
)sheet";

}  // namespace relaydash
