@echo -off
#
# ZAR factory script: flashes each machine's EC once and keeps a record of
# every run on the stick.
#
# Put on the stick's root: this file as startup.nsh, zar.efi, zar.man and
# the image; set IMAGE below to the image's name, zar_station to the
# station's. Boot the machine from the stick into the UEFI Shell, which
# runs this script. It
#   - finds the stick: the first file system, fs0: to fs9:, that holds
#     IMAGE, and works in its root;
#   - skips a machine that was already flashed with IMAGE: the mark
#     zar_flashed is a Shell variable, kept in the machine's own NVRAM, so
#     it survives the reboot that the EC's restart often causes;
#   - otherwise sets the mark zar_pending first, then flashes, with the
#     module check and a record appended to LOG on the stick (the record is
#     closed before the EC restarts);
#   - on a machine that still carries zar_pending (its last run failed or
#     was cut short with the EC left in follow mode, which can't answer the
#     module check) flashes again with p, and finishes;
#   - trades zar_pending for zar_flashed when zar reports success; after a
#     failure it keeps zar_pending only where the EC may be left in follow
#     mode (status 0x7 or 0x12, or any failure of a rerun), so that the
#     next run of this script, or the next boot from the stick, reruns with p.
# Before a machine leaves the line, unmark.nsh (beside this file) removes its
# marks; it refuses a machine whose flashing never finished.

set -v ZAR zar.efi
set -v IMAGE ec.bin
set -v LOG zar.log
# The station's name in every record (zar-records gives each station's yield).
set -v zar_station STATION-1

# The first file system that holds IMAGE: a second stick or the machine's
# own disk may hold an older copy.
set -v zar_fs none
for %a in fs0 fs1 fs2 fs3 fs4 fs5 fs6 fs7 fs8 fs9
  if "%zar_fs%" == "none" then
    if exist %a:\%IMAGE% then
      set -v zar_fs %a
    endif
  endif
endfor
if "%zar_fs%" == "none" then
  echo ZAR: no file system holds \%IMAGE%: nothing flashed.
  goto END
endif
%zar_fs%:
cd \

if "%zar_flashed%" == "%IMAGE%" then
  echo ZAR: this machine's EC was already flashed with %IMAGE%: nothing to do.
  goto END
endif

if "%zar_pending%" == "%IMAGE%" then
  echo ZAR: the last run on this machine did not finish: flashing again with p.
  %ZAR% /log %LOG% %IMAGE% p
  set -v zar_status %lasterror%
  set -v zar_rerun yes
else
  # The mark comes first: a run may end with the machine restarting, or be
  # cut short by a power loss.
  set zar_pending %IMAGE%
  %ZAR% /log %LOG% %IMAGE%
  set -v zar_status %lasterror%
  set -v zar_rerun no
endif

if %zar_status% == 0x0 then
  set zar_flashed %IMAGE%
  set -d zar_pending
  echo ZAR: %IMAGE% flashed and verified; the record is in %LOG%.
  goto END
endif
echo ZAR: FLASHING FAILED, status %zar_status%: see the end of %LOG%.
if %zar_status% == 0x7 then
  goto PENDING
endif
if %zar_status% == 0x12 then
  goto PENDING
endif
if "%zar_rerun%" == "yes" then
  goto PENDING
endif
# Nothing was written, or the EC was handed back: nothing to finish.
set -d zar_pending
if %zar_status% == 0x8 then
  echo ZAR: the chip is write-protected: set this machine aside (the console says what holds it).
  goto END
endif
echo ZAR: nothing is marked; correct what the console names, then run this script again.
goto END

:PENDING
echo ZAR: do not switch off: the EC may be in follow mode. Run this script again (or boot from the stick again): it flashes again with p.

:END
