@echo -off
#
# ZAR factory marks, removed before a machine leaves the line: startup.nsh
# keeps zar_flashed (and, while a flashing is unfinished, zar_pending) in
# the machine's NVRAM. Run this script in that machine's Shell at the end of
# the line (from the stick: fs0:\unmark.nsh), with IMAGE set as in
# startup.nsh. A machine whose flashing never finished keeps its mark and is
# named: it must not leave the line.

set -v IMAGE ec.bin

if "%zar_pending%" == "%IMAGE%" then
  echo ZAR: this machine's flashing with %IMAGE% did not finish: it keeps its mark and must not leave the line.
  goto END
endif
if "%zar_flashed%" == "%IMAGE%" then
  set -d zar_flashed
  echo ZAR: the mark zar_flashed is removed; this machine may leave the line.
  goto END
endif
echo ZAR: this machine carries no mark for %IMAGE%.

:END
