#pragma once

// Raised when a skin lacks what the code asks of it. Nothing catches them: a skin that lacks a
// node a screen needs stops the program.

#include <exception>
#include <string>

namespace virire {

class SkinError : public std::exception {
public:
    const char* what() const noexcept override { return m_what.c_str(); }

protected:
    explicit SkinError(std::string what) : m_what(std::move(what)) {}

private:
    std::string m_what;
};

// A form or container was asked to load itself from a named node the skin does not hold.
class NodeNotFoundInSkin : public SkinError {
public:
    explicit NodeNotFoundInSkin(std::u16string name);
    const std::u16string& name() const { return m_name; }

private:
    std::u16string m_name;
};

// A screen requires a child by id and the form holds none.
class NodeNotFound : public SkinError {
public:
    NodeNotFound(std::u16string form_id, std::u16string child_id);
    const std::u16string& form_id() const { return m_form_id; }
    const std::u16string& child_id() const { return m_child_id; }

private:
    std::u16string m_form_id;
    std::u16string m_child_id;
};

// A node's type has no creator in the component factory.
class NodeNotRegistered : public SkinError {
public:
    explicit NodeNotRegistered(std::u16string type_name);
    const std::u16string& type_name() const { return m_type_name; }

private:
    std::u16string m_type_name;
};

// A type name was added to the component factory twice.
class NodeAlreadyRegistered : public SkinError {
public:
    explicit NodeAlreadyRegistered(std::u16string type_name);
    const std::u16string& type_name() const { return m_type_name; }

private:
    std::u16string m_type_name;
};

} // namespace virire
