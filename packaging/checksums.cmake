# Writes OUTPUT in the format of sha256sum: for each of FILES, its SHA-256 in
# hex, two spaces and its bare name, so that `sha256sum -c` checks the files
# in the folder it is run in.
# Usage: cmake -DFILES=<path;path...> -DOUTPUT=<file> -P checksums.cmake
set(lines "")
foreach(path IN LISTS FILES)
    file(SHA256 ${path} hash)
    get_filename_component(name ${path} NAME)
    string(APPEND lines "${hash}  ${name}\n")
endforeach()
file(WRITE ${OUTPUT} "${lines}")
