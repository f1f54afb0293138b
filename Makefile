# The two commands a new user needs:
#   make run    build the Windows executable and run it under Wine against
#               throwaway stores (DIST=test by default, or DIST=prod)
#   make test   build everything and run every test
# Both install missing Debian packages first when run as root.

DIST ?= test
JOBS ?= $(shell nproc)

.PHONY: all run test packages host host-sanitize windows clean

all: host

packages:
	@tools/install-packages.sh

host: packages
	cmake --preset host
	cmake --build --preset host -j $(JOBS)

host-sanitize: packages
	cmake --preset host-sanitize
	cmake --build --preset host-sanitize -j $(JOBS)

windows: packages
	cmake --preset windows
	cmake --build --preset windows -j $(JOBS)

test: host host-sanitize windows
	ctest --preset host -j $(JOBS)
	ctest --preset host-sanitize -j $(JOBS)
	ctest --preset windows -j $(JOBS)

# certinstall.exe under Wine, in a fresh prefix under build/run/ copied from a
# template that the first run makes (about 15 s); then what the current user's
# ROOT and CA stores of that prefix hold.
WINE_PREFIX := /usr/bin/python3 tools/wine_prefix.py
RUN_DIR := $(CURDIR)/build/run
run: windows
	@test -f $(RUN_DIR)/wine-template/system.reg || $(WINE_PREFIX) create $(RUN_DIR)/wine-template
	$(WINE_PREFIX) run --from $(RUN_DIR)/wine-template $(RUN_DIR)/wine build/windows/certinstall.exe $(DIST); echo "exit status: $$?"
	@echo "Certificates (SHA-1) in the current user's stores of $(RUN_DIR)/wine:"
	@$(WINE_PREFIX) stores $(RUN_DIR)/wine

clean:
	rm -rf build dist

# dist/certinstall.exe and its SHA-256, built reproducibly from
# CERTIFICATE_DIR=... (default the development set); signed and then verified
# when given SIGN_CERT=cert.pem SIGN_KEY=key.pem (or SIGN_PKCS12=file.p12
# SIGN_PASSWORD=...), optionally time-stamped with SIGN_TIMESTAMP_URL=...;
# see tools/release.sh. Variables given on make's command line reach the
# script through its environment.
.PHONY: release bench
release: packages
	tools/release.sh

# Size, imports and start-up time under Wine of the release executable, and
# the loader's heap allocations per certificate; not part of make test.
bench: packages
	/usr/bin/python3 bench/bench.py
