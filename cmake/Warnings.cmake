# Every target of the project builds without warnings at this level.
add_compile_options(-Wall -Wextra -Wshadow)
