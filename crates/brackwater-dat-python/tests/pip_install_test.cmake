# Installs the package from a wheel, as its users do, into a fresh virtual
# environment (with the system's site packages, for pytest): `python3 -m
# build --wheel`, then the wheel. The module's tests then run against the
# installed package, from outside the tree. No index is reached: the system's
# setuptools, CMake and pybind11 build. (`pip install .` of the source tree
# is the README's, which the readme_install_commands test runs as written:
# each build of the package is minutes of the rebuild workflow.)
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")

function(run)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY "${WORK_DIR}" RESULT_VARIABLE result
                  OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${ARGN} failed:\n${output}")
  endif()
endfunction()

# The package as installed, from outside the tree, with nothing on PYTHONPATH.
function(check_installed venv)
  run("${CMAKE_COMMAND}" -E env --unset=PYTHONPATH "${venv}/bin/python" -c
      "import brackwater_dat as bw, sys, pathlib; assert pathlib.Path(bw.__file__).is_relative_to(sys.argv[1]), bw.__file__; assert (pathlib.Path(bw.__file__).parent / 'py.typed').exists(); assert (pathlib.Path(bw.__file__).parent / '__init__.pyi').exists(); assert bw.__version__ == sys.argv[2]; import importlib.metadata as m; assert m.metadata('brackwater-dat')['License'] == 'MIT'; assert any(str(f).endswith('LICENSE') for f in m.files('brackwater-dat'))"
      "${venv}" "${EXPECTED_VERSION}")
endfunction()

run("${CMAKE_COMMAND}" -E env --unset=PYTHONPATH "${PYTHON}" -m build --wheel --no-isolation
    --skip-dependency-check --outdir "${WORK_DIR}/dist" "${SOURCE_DIR}")
file(GLOB wheel "${WORK_DIR}/dist/brackwater_dat-${EXPECTED_VERSION}-*.whl")
if(NOT wheel)
  message(FATAL_ERROR "no wheel of version ${EXPECTED_VERSION} in ${WORK_DIR}/dist")
endif()
run("${PYTHON}" -m venv --system-site-packages "${WORK_DIR}/wheel")
run("${WORK_DIR}/wheel/bin/python" -m pip install --no-index "${wheel}")
check_installed("${WORK_DIR}/wheel")
run("${CMAKE_COMMAND}" -E env --unset=PYTHONPATH
    "BRACKWATER_SYNTHETIC_RETAIL_DIR=${RETAIL_DIR}" "BRACKWATER_EXPECTATIONS=${RETAIL_DIR}/good/expected.json"
    "${WORK_DIR}/wheel/bin/python" -m pytest -q -p no:cacheprovider "${SOURCE_DIR}/crates/brackwater-dat-python/tests")
