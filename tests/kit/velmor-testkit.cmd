@echo off
rem The velmor test kit's runner: the Windows-side suite on this kit's velmor.exe, velmorctl.exe and
rem installer packages, from an elevated prompt on a Windows 10 or 11 machine (or under Wine).
rem
rem   velmor-testkit.cmd [--gtest_filter=PATTERN]
rem
rem Before anything, it refuses with one line where it must not run: not elevated (exit code 3),
rem beside the product's service tsysrv or an installed velmor package (4), a kit not unzipped whole
rem (5). Otherwise the suite installs its service stand-in, starts the kit's programs, installs and
rem removes the kit's packages; all it made is undone at the end, also when a case fails or the run
rem is interrupted with Ctrl+C. The results go beside this script: velmor-testkit-results.xml
rem (JUnit) and velmor-testkit.log. The last line is the suite's "N passed, M failed, K skipped".
rem Exit codes: 0 every case passed or was skipped, 1 a case failed or the suite did not finish,
rem 2 an unknown argument, 6 something could not be undone (each thing is named above the last line).
rem The work is done by velmor_e2e_tests.exe --kit: a script cannot undo a run that Ctrl+C ended.
setlocal
if not exist "%~dp0velmor_e2e_tests.exe" goto incomplete
"%~dp0velmor_e2e_tests.exe" --kit %*
exit /b %ERRORLEVEL%

:incomplete
echo velmor test kit: the kit is incomplete: velmor_e2e_tests.exe is missing beside velmor-testkit.cmd (unzip the whole kit and run it from its folder); nothing was changed 1>&2
exit /b 5
