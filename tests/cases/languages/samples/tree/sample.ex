# c
@doc """
# in
"""
x = "# no"
