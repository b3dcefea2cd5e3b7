# cmake -DTEMPLATE=... -DIDS=... -DOUTPUT=... -DPROJECT_VERSION=... -P metainfo.cmake
# Fills the metainfo template: @MODALIASES@ becomes a <modalias> for every line of IDS (the
# output of lumexor-usb-ids), @PROJECT_VERSION@ the release.
file(STRINGS ${IDS} ids)
set(MODALIASES "")
foreach(id ${ids})
    string(APPEND MODALIASES "    <modalias>${id}</modalias>\n")
endforeach()
string(STRIP "${MODALIASES}" MODALIASES)
set(MODALIASES "    ${MODALIASES}")
configure_file(${TEMPLATE} ${OUTPUT} @ONLY)
