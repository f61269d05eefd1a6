# Sourced by the scripts that build from Debian's source packages: a private
# apt set-up in a work folder that adds deb-src entries without touching the
# system's, and the fetch of one source package into a folder of it.
#   debsource_setup WORK        prepare WORK and read the source lists
#   debsource_fetch PKG DIR     unpack source package PKG as WORK/DIR
debsource_setup() {
    debsource_work=$1
    mkdir -p "$debsource_work/sources.list.d" "$debsource_work/lists/partial" \
        "$debsource_work/archives/partial"
    sed -e 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
        > "$debsource_work/sources.list.d/src.sources"
    debsource_opts=(-o Dir::Etc::sourceparts="$debsource_work/sources.list.d"
                    -o Dir::Etc::sourcelist=/dev/null
                    -o Dir::State::Lists="$debsource_work/lists"
                    -o Dir::Cache::Archives="$debsource_work/archives"
                    -o Debug::NoLocking=1)
    apt-get "${debsource_opts[@]}" update -qq
}

debsource_fetch() {
    (cd "$debsource_work" && apt-get "${debsource_opts[@]}" source -qq --download-only "$1" &&
        dpkg-source --no-check -x "$1"_*.dsc "$2" >/dev/null)
}
