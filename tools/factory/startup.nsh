@echo -off
#
# ZAR factory script: flashes each machine's EC once and keeps a record of
# every run on the stick.
#
# Put on the stick's root: this file as startup.nsh, zar.efi, zar.man and
# the image; set IMAGE below to the image's name, zar_station to the
# station's. Boot the machine from the
# stick into the UEFI Shell, which runs this script. It
#   - finds the stick (the file system that holds IMAGE) and works there;
#   - skips a machine that was already flashed with IMAGE: the mark is a
#     Shell variable, kept in the machine's own NVRAM, so it survives the
#     reboot that the EC's restart often causes and no loop can start;
#   - otherwise sets the mark, then flashes, with the module check and a
#     record appended to LOG on the stick (the record is closed before the
#     EC restarts);
#   - clears the mark when zar reports a failure, so that the next boot
#     tries again.
# A run cut short by a power loss keeps the mark: "set -d zar_flashed" in
# the Shell of that machine clears it.

set -v ZAR zar.efi
set -v IMAGE ec.bin
set -v LOG zar.log
# The station's name in every record (zar-records gives each station's yield).
set -v zar_station STATION-1

for %a in fs0 fs1 fs2 fs3 fs4 fs5 fs6 fs7 fs8 fs9
  if exist %a:\%IMAGE% then
    %a:
  endif
endfor
cd \
if not exist %IMAGE% then
  echo ZAR: no file system holds \%IMAGE%: nothing flashed.
  goto END
endif

if "%zar_flashed%" == "%IMAGE%" then
  echo ZAR: this machine's EC was already flashed with %IMAGE%: nothing to do.
  goto END
endif

# The mark comes first: a good run may end with the machine restarting.
set zar_flashed %IMAGE%
%ZAR% /log %LOG% %IMAGE%
if not %lasterror% == 0x0 then
  set -d zar_flashed
  echo ZAR: FLASHING FAILED, status %lasterror%: see the end of %LOG%.
  echo ZAR: nothing is marked; on status 0x7 or 0x12 run this script again before switching off.
  goto END
endif
echo ZAR: %IMAGE% flashed and verified; the record is in %LOG%.

:END
