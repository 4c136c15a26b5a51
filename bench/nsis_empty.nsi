; The smallest NSIS installer: no files, no compression. Its size is the
; NSIS x86 stub that the installer's own overhead is compared with.
;   makensis -DOUTFILE=OUT.exe nsis_empty.nsi
SetCompress off
OutFile "${OUTFILE}"
Section
SectionEnd
