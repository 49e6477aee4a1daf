; A Downloader installer of the kind operators build with NSIS 3: it puts
; the mvdown.exe stand-in and an NSIS uninstaller into the user's product
; folder. A silent uninstaller returns at once and leaves its work to a
; copy of itself in the temporary folder, which waits a moment first.
;   makensis -DMVDOWN=<mvdown stand-in> -DOUT=<installer> downloader.nsi
Target amd64-unicode
Name "Morvik下载器"
OutFile "${OUT}"
RequestExecutionLevel user
SilentInstall silent
SilentUnInstall silent
InstallDir "$LOCALAPPDATA\Morvik网络\Morvik下载器"

Section
    SetOutPath "$INSTDIR"
    File "/oname=mvdown.exe" "${MVDOWN}"
    WriteUninstaller "$INSTDIR\uninst.exe"
SectionEnd

Section "Uninstall"
    Sleep 3000
    Delete "$INSTDIR\mvdown.exe"
    Delete "$INSTDIR\software.xml"
    Delete "$INSTDIR\uninst.exe"
    RMDir "$INSTDIR"
SectionEnd
