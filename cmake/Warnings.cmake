# Warnings on for every target of the project; the build stays clean.
add_compile_options(-Wall -Wextra)
